// A test target that keeps the info object of its Initialize as ICorProfilerInfo10 (the multiplexer
// holds the reference) and sets its event mask there.
#pragma once

#include "CorProfilerInfo.h"
#include "NullProfilerCallback.h"

namespace profilermultiplexer::tests {

class InfoTarget : public NullProfilerCallback {
public:
    ICorProfilerInfo10& Info() const { return *_info; }

protected:
    // What Initialize answers: E_FAIL without ICorProfilerInfo10, else the result of setting the mask.
    HRESULT KeepInfoAndSetMask(IUnknown* infoUnknown, DWORD low, DWORD high) {
        void* info = nullptr;
        if (FAILED(infoUnknown->QueryInterface(IID_ICorProfilerInfo10, &info))) {
            return E_FAIL;
        }
        _info = static_cast<ICorProfilerInfo10*>(info);
        _info->Release();
        return _info->SetEventMask2(low, high);
    }

private:
    ICorProfilerInfo10* _info = nullptr;
};

} // namespace profilermultiplexer::tests
