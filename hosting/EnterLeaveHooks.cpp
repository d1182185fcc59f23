#include "hosting/EnterLeaveHooks.h"

namespace profilermultiplexer {

namespace {

template <class Function> Function* As(EnterLeaveHooks::Hook hook) {
    return reinterpret_cast<Function*>(hook);
}

} // namespace

HRESULT EnterLeaveHooks::Check(Kind kind, Hook enter, Hook leave, Hook tailcall, DWORD maskLow) {
    if (enter == nullptr && leave == nullptr && tailcall == nullptr) {
        return E_INVALIDARG;
    }
    const bool withInfoFlags = (maskLow & InfoFlags) != 0;
    if ((kind == Kind::Hooks3 && withInfoFlags) || (kind == Kind::Hooks3WithInfo && !withInfoFlags)) {
        return CORPROF_E_INCONSISTENT_WITH_FLAGS;
    }
    return S_OK;
}

void EnterLeaveHooks::Keep(Kind kind, Hook enter, Hook leave, Hook tailcall) {
    // The third version beats the second, the second the first.
    const bool older = (kind == Kind::Hooks && _kind != Kind::None) ||
                       (kind == Kind::Hooks2 && (_kind == Kind::Hooks3 || _kind == Kind::Hooks3WithInfo));
    if (older) {
        return;
    }
    _kind = kind;
    _enter = enter;
    _leave = leave;
    _tailcall = tailcall;
}

HRESULT EnterLeaveHooks::CheckMask(DWORD maskLow) const {
    if (_kind != Kind::Hooks3 && _kind != Kind::Hooks3WithInfo) {
        return S_OK;
    }
    const bool withInfoFlags = (maskLow & InfoFlags) != 0;
    if ((maskLow & COR_PRF_MONITOR_ENTERLEAVE) == 0 || withInfoFlags != (_kind == Kind::Hooks3WithInfo)) {
        return CORPROF_E_INCONSISTENT_WITH_FLAGS;
    }
    return S_OK;
}

void EnterLeaveHooks::KeepMapper(FunctionIDMapper* mapper) {
    _mapper = mapper;
}

void EnterLeaveHooks::KeepMapper2(FunctionIDMapper2* mapper, void* clientData) {
    _mapper2 = mapper;
    _mapperClientData = clientData;
}

HRESULT EnterLeaveHooks::GiveTo(ICorProfilerInfo10* runtime) const {
    if (_mapper != nullptr) {
        const HRESULT hr = runtime->SetFunctionIDMapper(_mapper);
        if (FAILED(hr)) {
            return hr;
        }
    }
    if (_mapper2 != nullptr) {
        const HRESULT hr = runtime->SetFunctionIDMapper2(_mapper2, _mapperClientData);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return GiveHooksTo(runtime);
}

HRESULT EnterLeaveHooks::GiveHooksTo(ICorProfilerInfo10* runtime) const {
    switch (_kind) {
    case Kind::Hooks:
        return runtime->SetEnterLeaveFunctionHooks(As<FunctionEnter>(_enter), As<FunctionLeave>(_leave),
                                                   As<FunctionTailcall>(_tailcall));
    case Kind::Hooks2:
        return runtime->SetEnterLeaveFunctionHooks2(As<FunctionEnter2>(_enter), As<FunctionLeave2>(_leave),
                                                    As<FunctionTailcall2>(_tailcall));
    case Kind::Hooks3:
        return runtime->SetEnterLeaveFunctionHooks3(As<FunctionEnter3>(_enter), As<FunctionLeave3>(_leave),
                                                    As<FunctionTailcall3>(_tailcall));
    case Kind::Hooks3WithInfo:
        return runtime->SetEnterLeaveFunctionHooks3WithInfo(As<FunctionEnter3WithInfo>(_enter),
                                                            As<FunctionLeave3WithInfo>(_leave),
                                                            As<FunctionTailcall3WithInfo>(_tailcall));
    case Kind::None:
        break;
    }
    return S_OK;
}

} // namespace profilermultiplexer
