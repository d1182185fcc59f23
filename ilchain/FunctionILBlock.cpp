#include "ilchain/FunctionILBlock.h"

#include "ilchain/IMetadataHelper.h"
#include "logging/Logging.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <tuple>

namespace profilermultiplexer {

namespace {

constexpr DWORD DisableInlining = 0x1;
constexpr DWORD DisableAllOptimizations = 0x2;

// Blocks take their lock from here: a mutex of their own would double a block's size.
std::array<FastMutex, 64> BlockLocks;

// A shared copy of count items, or an empty pointer for none.
template <class T> std::shared_ptr<T[]> SharedCopy(const T* items, ULONG count) {
    if (count == 0) {
        return {};
    }
    std::shared_ptr<T[]> copy(new T[count]);
    std::copy_n(items, count, copy.get());
    return copy;
}

// Hands out storage for n objects of T followed by a tail of bytes, and tells where the tail starts: the
// reference counts of a shared buffer and the buffer itself then take one allocation.
template <class T> class TailAllocator {
public:
    using value_type = T;

    TailAllocator(std::size_t tailSize, unsigned char** tail) noexcept : _tailSize(tailSize), _tail(tail) {}
    template <class U>
    TailAllocator(const TailAllocator<U>& other) noexcept : _tailSize(other._tailSize), _tail(other._tail) {}

    T* allocate(std::size_t count) {
        auto* storage = static_cast<unsigned char*>(::operator new(count * sizeof(T) + _tailSize));
        *_tail = storage + count * sizeof(T);
        return reinterpret_cast<T*>(storage);
    }
    void deallocate(T* storage, std::size_t /*count*/) noexcept { ::operator delete(storage); }
    template <class U> bool operator==(const TailAllocator<U>& other) const noexcept {
        return _tailSize == other._tailSize;
    }
    template <class U> bool operator!=(const TailAllocator<U>& other) const noexcept {
        return !(*this == other);
    }

private:
    template <class U> friend class TailAllocator;
    std::size_t _tailSize;
    unsigned char** _tail;
};

} // namespace

std::shared_ptr<unsigned char[]> FunctionILBlock::SharedILCopy(const unsigned char* bytes, ULONG size) {
    unsigned char* tail = nullptr;
    const auto owner = std::allocate_shared<unsigned char>(TailAllocator<unsigned char>(size, &tail));
    std::copy_n(bytes, size, tail);
    return std::shared_ptr<unsigned char[]>(owner, tail);
}

std::shared_ptr<IFunctionILBlock>
IFunctionILBlock::CreateFunctionILBlock(ModuleID moduleId, mdMethodDef methodDef, const char* targetName,
                                        MethodName methodName, ILFetcher getILFunctionBody) {
    return std::make_shared<FunctionILBlock>(moduleId, methodDef, targetName, methodName,
                                             std::move(getILFunctionBody));
}

std::string IFunctionILBlock::MethodName::Get(ModuleID moduleId, mdMethodDef methodDef) const {
    static const std::string unnamed = "(unknown method)";
    if ((_source & HelperBit) == 0) {
        return *reinterpret_cast<const std::string*>(_source);
    }
    auto* names = reinterpret_cast<IMetadataHelper*>(_source & ~HelperBit);
    return names != nullptr ? names->GetMethodName(moduleId, methodDef) : unnamed;
}

FunctionILBlock::FunctionILBlock(ModuleID moduleId, mdMethodDef methodDef, const char* targetName,
                                 MethodName methodName, ILFetcher getILFunctionBody)
    : _moduleId(moduleId), _methodDef(methodDef), _targetName(targetName), _methodName(methodName),
      _getILFunctionBody(std::move(getILFunctionBody)) {
    static_assert(alignof(std::string) > 1 && alignof(IMetadataHelper) > 1);
}

FastMutex& FunctionILBlock::Lock() const noexcept {
    const auto address = reinterpret_cast<std::uintptr_t>(this);
    return BlockLocks[(address >> 4) % BlockLocks.size()];
}

HRESULT FunctionILBlock::QueryInterface(REFIID riid, void** ppvObject) {
    if (IsLogLevelEnabled(spdlog::level::debug)) {
        Debug("{} FunctionILBlock::QueryInterface", _targetName);
    }
    if (riid != IID_ICorProfilerFunctionControl && riid != IID_IUnknown) {
        return E_NOINTERFACE;
    }
    if (ppvObject == nullptr) {
        return E_POINTER;
    }
    *ppvObject = static_cast<ICorProfilerFunctionControl*>(this);
    return S_OK;
}

ULONG FunctionILBlock::AddRef() {
    return 1;
}

ULONG FunctionILBlock::Release() {
    return 1;
}

HRESULT FunctionILBlock::SetCodegenFlags(DWORD flags) {
    if (IsLogLevelEnabled(spdlog::level::debug)) {
        if ((flags & DisableInlining) != 0) {
            Debug("{} : FunctionILBlock::SetCodegenFlags of {} for disable inlining", _targetName, Name());
        }
        if ((flags & DisableAllOptimizations) != 0) {
            Debug("{} : FunctionILBlock::SetCodegenFlags of {} for disable all optimizations", _targetName,
                  Name());
        }
    }
    std::lock_guard<FastMutex> lock(Lock());
    _codegenFlags = flags;
    return S_OK;
}

HRESULT FunctionILBlock::SetILFunctionBody(ULONG cbNewILMethodHeader, LPCBYTE pbNewILMethodHeader) {
    if (IsLogLevelEnabled(spdlog::level::trace)) {
        Trace("{} : FunctionILBlock::SetILFunctionBody of {} called with pbNewILMethodHeader = {:p} of size "
              ":{:d}",
              _targetName, Name(), static_cast<const void*>(pbNewILMethodHeader), cbNewILMethodHeader);
    }
    if (pbNewILMethodHeader == nullptr && cbNewILMethodHeader != 0) {
        return E_INVALIDARG;
    }
    std::shared_ptr<unsigned char[]> copy;
    try {
        if (cbNewILMethodHeader != 0) {
            copy = SharedILCopy(pbNewILMethodHeader, cbNewILMethodHeader);
        }
    } catch (const std::bad_alloc&) {
        Error("{} : FunctionILBlock::SetILFunctionBody of {}, out of memory for {:d} bytes", _targetName,
              Name(), cbNewILMethodHeader);
        return E_OUTOFMEMORY;
    }
    std::lock_guard<FastMutex> lock(Lock());
    _ilBody = std::move(copy);
    _ilSize = cbNewILMethodHeader;
    return S_OK;
}

HRESULT FunctionILBlock::SetILFunctionBody(ULONG size, const std::shared_ptr<unsigned char[]>& body) {
    if (IsLogLevelEnabled(spdlog::level::trace)) {
        Trace("{} : FunctionILBlock::SetILFunctionBody of {} called with newILMethodHeader = {:p} of size "
              ":{:d}",
              _targetName, Name(), static_cast<const void*>(body.get()), size);
    }
    std::lock_guard<FastMutex> lock(Lock());
    _ilBody = body;
    _ilSize = body ? size : 0;
    return S_OK;
}

HRESULT FunctionILBlock::SetILInstrumentedCodeMap(ULONG cILMapEntries, COR_IL_MAP* rgILMapEntries) {
    if (IsLogLevelEnabled(spdlog::level::trace)) {
        Trace(
            "{} : FunctionILBlock::SetILInstrumentedCodeMap of {} called with rgILMapEntries in {:p} of size "
            ":{:d}",
            _targetName, Name(), static_cast<const void*>(rgILMapEntries), cILMapEntries);
    }
    if (rgILMapEntries == nullptr && cILMapEntries != 0) {
        return E_INVALIDARG;
    }
    std::shared_ptr<COR_IL_MAP[]> copy;
    try {
        copy = SharedCopy(rgILMapEntries, cILMapEntries);
    } catch (const std::bad_alloc&) {
        Error("{} : FunctionILBlock::SetILInstrumentedCodeMap of {}, out of memory for {:d} entries",
              _targetName, Name(), cILMapEntries);
        return E_OUTOFMEMORY;
    }
    std::lock_guard<FastMutex> lock(Lock());
    _ilMap = std::move(copy);
    _ilMapCount = cILMapEntries;
    return S_OK;
}

std::pair<std::shared_ptr<COR_IL_MAP[]>, ULONG> FunctionILBlock::GetILInstrumentedCodeMap() const {
    std::lock_guard<FastMutex> lock(Lock());
    return {_ilMap, _ilMapCount};
}

HRESULT FunctionILBlock::GetILFunctionBody(LPCBYTE* ppMethodHeader, ULONG* pcbMethodSize) {
    std::shared_ptr<unsigned char[]> body;
    ULONG size = 0;
    const HRESULT result = GetOrFetchILFunctionBody(&body, &size);
    if (FAILED(result)) {
        return result;
    }
    if (pcbMethodSize != nullptr) {
        *pcbMethodSize = size;
    }
    if (ppMethodHeader != nullptr) {
        *ppMethodHeader = body.get();
    }
    return result;
}

HRESULT FunctionILBlock::GetOrFetchILFunctionBody(std::shared_ptr<unsigned char[]>* body, ULONG* size) {
    std::tie(*body, *size) = GetILFunctionBody();
    HRESULT result = S_OK;
    if (!*body || *size == 0) {
        std::shared_ptr<unsigned char[]> fetched;
        ULONG fetchedSize = 0;
        result = FetchILFunctionBody(&fetched, &fetchedSize);
        if (FAILED(result)) {
            Error("{} : GetILFunctionBody from pCorProfilerInfo of {} in module: {:x}  method: {:x} failed "
                  "with "
                  "hr={:x}",
                  _targetName, Name(), _moduleId, _methodDef, result);
            return result;
        }
        std::lock_guard<FastMutex> lock(Lock());
        // IL set on another thread meanwhile wins over the fetched copy.
        if (!_ilBody || _ilSize == 0) {
            _ilBody = std::move(fetched);
            _ilSize = fetchedSize;
        }
        std::tie(*body, *size) = std::make_pair(_ilBody, _ilSize.load());
    }
    if (IsLogLevelEnabled(spdlog::level::debug)) {
        Debug(
            "{} : GetILFunctionBody from pCorProfilerInfo of {} in module: {:x}  method: {:x} Address: {:p}  "
            "size: {:d} bytes",
            _targetName, Name(), _moduleId, _methodDef, static_cast<const void*>(body->get()), *size);
    }
    return result;
}

HRESULT FunctionILBlock::FetchILFunctionBody(std::shared_ptr<unsigned char[]>* body, ULONG* size) const {
    if (!_getILFunctionBody) {
        return E_FAIL;
    }
    try {
        return _getILFunctionBody(_moduleId, _methodDef, body, size);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

std::pair<std::shared_ptr<unsigned char[]>, ULONG> FunctionILBlock::GetILFunctionBody() const {
    std::lock_guard<FastMutex> lock(Lock());
    return {_ilBody, _ilSize.load()};
}

DWORD FunctionILBlock::GetCodegenFlags() const {
    std::lock_guard<FastMutex> lock(Lock());
    return _codegenFlags;
}

void FunctionILBlock::RequestRejit() {
    std::lock_guard<FastMutex> lock(Lock());
    _isRejitPending = true;
}

bool FunctionILBlock::IsRejitPending() const {
    std::lock_guard<FastMutex> lock(Lock());
    return _isRejitPending;
}

void FunctionILBlock::RejitIsNoLongerPending() {
    std::lock_guard<FastMutex> lock(Lock());
    _isRejitPending = false;
}

void FunctionILBlock::ClearILFunctionBody() {
    if (IsLogLevelEnabled(spdlog::level::trace)) {
        Trace("{} : FunctionILBlock::ClearILFunctionBody of {} in module: {:x}  method: {:x}", _targetName,
              Name(), _moduleId, _methodDef);
    }
    std::lock_guard<FastMutex> lock(Lock());
    _ilBody.reset();
    _ilSize = 0;
}

bool FunctionILBlock::HasNonEmptyILBlock() const {
    return _ilSize.load() != 0;
}

} // namespace profilermultiplexer
