#include "ilchain/ILBodyAllocator.h"

namespace profilermultiplexer {

HRESULT ILBodyAllocator::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) {
        return E_POINTER;
    }
    if (riid != IID_IMethodMalloc && riid != IID_IUnknown) {
        *ppvObject = nullptr;
        return E_NOINTERFACE;
    }
    *ppvObject = static_cast<IMethodMalloc*>(this);
    AddRef();
    return S_OK;
}

ULONG ILBodyAllocator::AddRef() {
    return _owner->AddRef();
}

ULONG ILBodyAllocator::Release() {
    return _owner->Release();
}

PVOID ILBodyAllocator::Alloc(ULONG cb) {
    return _multiplexer->Alloc(cb);
}

} // namespace profilermultiplexer
