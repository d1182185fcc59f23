#include "ilchain/FunctionILBlock.h"

#include "logging/Logging.h"

#include <algorithm>
#include <new>

namespace profilermultiplexer {

namespace {

constexpr DWORD DisableInlining = 0x1;
constexpr DWORD DisableAllOptimizations = 0x2;

// A shared copy of count items, or an empty pointer for none.
template <class T> std::shared_ptr<T[]> SharedCopy(const T* items, ULONG count) {
    if (count == 0) {
        return {};
    }
    std::shared_ptr<T[]> copy(new T[count]);
    std::copy_n(items, count, copy.get());
    return copy;
}

} // namespace

std::shared_ptr<IFunctionILBlock>
IFunctionILBlock::CreateFunctionILBlock(ModuleID moduleId, mdMethodDef methodDef, const char* targetName,
                                        const std::string& methodName, ILFetcher getILFunctionBody) {
    return std::make_shared<FunctionILBlock>(moduleId, methodDef, targetName, methodName,
                                             std::move(getILFunctionBody));
}

FunctionILBlock::FunctionILBlock(ModuleID moduleId, mdMethodDef methodDef, const char* targetName,
                                 const std::string& methodName, ILFetcher getILFunctionBody)
    : _moduleId(moduleId), _methodDef(methodDef), _targetName(targetName), _methodName(methodName),
      _getILFunctionBody(std::move(getILFunctionBody)) {}

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
            Debug("{} : FunctionILBlock::SetCodegenFlags of {} for disable inlining", _targetName,
                  _methodName);
        }
        if ((flags & DisableAllOptimizations) != 0) {
            Debug("{} : FunctionILBlock::SetCodegenFlags of {} for disable all optimizations", _targetName,
                  _methodName);
        }
    }
    _codegenFlags = flags;
    return S_OK;
}

HRESULT FunctionILBlock::SetILFunctionBody(ULONG cbNewILMethodHeader, LPCBYTE pbNewILMethodHeader) {
    if (IsLogLevelEnabled(spdlog::level::trace)) {
        Trace("{} : FunctionILBlock::SetILFunctionBody of {} called with pbNewILMethodHeader = {:p} of size "
              ":{:d}",
              _targetName, _methodName, static_cast<const void*>(pbNewILMethodHeader), cbNewILMethodHeader);
    }
    if (pbNewILMethodHeader == nullptr && cbNewILMethodHeader != 0) {
        return E_INVALIDARG;
    }
    try {
        _ilBody = SharedCopy(pbNewILMethodHeader, cbNewILMethodHeader);
    } catch (const std::bad_alloc&) {
        Error("{} : FunctionILBlock::SetILFunctionBody of {}, out of memory for {:d} bytes", _targetName,
              _methodName, cbNewILMethodHeader);
        return E_OUTOFMEMORY;
    }
    _ilSize = cbNewILMethodHeader;
    return S_OK;
}

HRESULT FunctionILBlock::SetILFunctionBody(ULONG size, const std::shared_ptr<unsigned char[]>& body) {
    if (IsLogLevelEnabled(spdlog::level::trace)) {
        Trace("{} : FunctionILBlock::SetILFunctionBody of {} called with newILMethodHeader = {:p} of size "
              ":{:d}",
              _targetName, _methodName, static_cast<const void*>(body.get()), size);
    }
    _ilBody = body;
    _ilSize = body ? size : 0;
    return S_OK;
}

HRESULT FunctionILBlock::SetILInstrumentedCodeMap(ULONG cILMapEntries, COR_IL_MAP* rgILMapEntries) {
    if (IsLogLevelEnabled(spdlog::level::trace)) {
        Trace(
            "{} : FunctionILBlock::SetILInstrumentedCodeMap of {} called with rgILMapEntries in {:p} of size "
            ":{:d}",
            _targetName, _methodName, static_cast<const void*>(rgILMapEntries), cILMapEntries);
    }
    if (rgILMapEntries == nullptr && cILMapEntries != 0) {
        return E_INVALIDARG;
    }
    try {
        _ilMap = SharedCopy(rgILMapEntries, cILMapEntries);
    } catch (const std::bad_alloc&) {
        Error("{} : FunctionILBlock::SetILInstrumentedCodeMap of {}, out of memory for {:d} entries",
              _targetName, _methodName, cILMapEntries);
        return E_OUTOFMEMORY;
    }
    _ilMapCount = cILMapEntries;
    return S_OK;
}

std::pair<std::shared_ptr<COR_IL_MAP[]>, ULONG> FunctionILBlock::GetILInstrumentedCodeMap() const {
    return {_ilMap, _ilMapCount};
}

HRESULT FunctionILBlock::GetILFunctionBody(LPCBYTE* ppMethodHeader, ULONG* pcbMethodSize) {
    HRESULT result = S_OK;
    if (!_ilBody || _ilSize == 0) {
        result = FetchILFunctionBody();
        if (FAILED(result)) {
            Error("{} : GetILFunctionBody from pCorProfilerInfo of {} in module: {:x}  method: {:x} failed "
                  "with "
                  "hr={:x}",
                  _targetName, _methodName, _moduleId, _methodDef, result);
            return result;
        }
    }
    if (pcbMethodSize != nullptr) {
        *pcbMethodSize = _ilSize;
    }
    if (ppMethodHeader != nullptr) {
        *ppMethodHeader = _ilBody.get();
    }
    if (IsLogLevelEnabled(spdlog::level::debug)) {
        Debug(
            "{} : GetILFunctionBody from pCorProfilerInfo of {} in module: {:x}  method: {:x} Address: {:p}  "
            "size: {:d} bytes",
            _targetName, _methodName, _moduleId, _methodDef, static_cast<const void*>(_ilBody.get()),
            _ilSize);
    }
    return result;
}

HRESULT FunctionILBlock::FetchILFunctionBody() {
    if (!_getILFunctionBody) {
        return E_FAIL;
    }
    try {
        return _getILFunctionBody(_moduleId, _methodDef, &_ilBody, &_ilSize);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

std::pair<std::shared_ptr<unsigned char[]>, ULONG> FunctionILBlock::GetILFunctionBody() const {
    return {_ilBody, _ilSize};
}

DWORD FunctionILBlock::GetCodegenFlags() const {
    return _codegenFlags;
}

void FunctionILBlock::RequestRejit() {
    _isRejitPending = true;
}

bool FunctionILBlock::IsRejitPending() const {
    return _isRejitPending;
}

void FunctionILBlock::RejitIsNoLongerPending() {
    _isRejitPending = false;
}

void FunctionILBlock::ClearILFunctionBody() {
    if (IsLogLevelEnabled(spdlog::level::trace)) {
        Trace("{} : FunctionILBlock::ClearILFunctionBody of {} in module: {:x}  method: {:x}", _targetName,
              _methodName, _moduleId, _methodDef);
    }
    _ilBody.reset();
    _ilSize = 0;
}

bool FunctionILBlock::HasNonEmptyILBlock() const {
    return _ilSize != 0;
}

} // namespace profilermultiplexer
