// The runtime's IL allocator as the IL tests need it: hands out zeroed memory that it owns and
// remembers the size of, or nothing at all when told to.
#pragma once

#include "CorProfilerInfo.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

namespace profilermultiplexer::tests {

class ILFakeMethodMalloc : public IMethodMalloc {
public:
    bool returnsNull = false;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IMethodMalloc && riid != IID_IUnknown) {
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IMethodMalloc*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++_refCount; }
    ULONG Release() override { return --_refCount; }
    ULONG RefCount() const { return _refCount; }

    PVOID Alloc(ULONG cb) override {
        if (returnsNull) {
            return nullptr;
        }
        std::lock_guard<std::mutex> lock(_lock);
        auto memory = std::make_unique<BYTE[]>(cb);
        BYTE* address = memory.get();
        _pieces.emplace(address, std::make_pair(std::move(memory), cb));
        return address;
    }

    // The size of the piece that starts at address; 0 for memory not from here.
    ULONG SizeOf(const void* address) const {
        std::lock_guard<std::mutex> lock(_lock);
        const auto found = _pieces.find(static_cast<const BYTE*>(address));
        return found == _pieces.end() ? 0 : found->second.second;
    }

private:
    mutable std::mutex _lock;
    std::map<const BYTE*, std::pair<std::unique_ptr<BYTE[]>, ULONG>> _pieces;
    std::atomic<ULONG> _refCount{0};
};

} // namespace profilermultiplexer::tests
