// The IL-body allocator that a proxy hands its target: an object of its own, as the runtime's is, whose
// QueryInterface answers IMethodMalloc and IUnknown with itself. Its references are counted on the proxy that
// holds it, and its memory is the runtime's allocator's, recorded by the multiplexer.
#pragma once

#include "hosting/IProfilerMultiplexer.h"
#include "platform/CorProfilerInfo.h"

namespace profilermultiplexer {

class ILBodyAllocator : public IMethodMalloc {
public:
    ILBodyAllocator(IUnknown* owner, IProfilerMultiplexer* multiplexer)
        : _owner(owner), _multiplexer(multiplexer) {}
    ILBodyAllocator(const ILBodyAllocator&) = delete;
    ILBodyAllocator& operator=(const ILBodyAllocator&) = delete;
    virtual ~ILBodyAllocator() = default;

    HRESULT QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG AddRef() override;
    ULONG Release() override;
    PVOID Alloc(ULONG cb) override;

private:
    IUnknown* _owner;
    IProfilerMultiplexer* _multiplexer;
};

} // namespace profilermultiplexer
