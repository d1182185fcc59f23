// The enter/leave hooks and function id mapper that one target sets while the targets are initialised:
// kept, answered by the runtime's rules against the target's own mask, and given to the runtime once it
// holds the final mask. Not synchronised: the target's proxy serialises the calls.
#pragma once

#include "platform/CorProfilerInfo.h"

namespace profilermultiplexer {

class EnterLeaveHooks {
public:
    // By setter: SetEnterLeaveFunctionHooks, ...2, ...3 and ...3WithInfo.
    enum class Kind { None, Hooks, Hooks2, Hooks3, Hooks3WithInfo };
    using Hook = void (*)();

    // The flags that only hooks with information serve.
    static constexpr DWORD InfoFlags =
        COR_PRF_ENABLE_FUNCTION_ARGS | COR_PRF_ENABLE_FUNCTION_RETVAL | COR_PRF_ENABLE_FRAME_INFO;

    // The runtime's answer to hooks of the kind under the mask: E_INVALIDARG without any hook;
    // CORPROF_E_INCONSISTENT_WITH_FLAGS for hooks with information without any of InfoFlags, or for hooks
    // of the third version without information with one of them.
    static HRESULT Check(Kind kind, Hook enter, Hook leave, Hook tailcall, DWORD maskLow);
    // Replaces the kept hooks, except that older versions than those kept are ignored, as the runtime does.
    void Keep(Kind kind, Hook enter, Hook leave, Hook tailcall);
    // The runtime's answer to a later mask: once hooks of the third version are kept, the mask must keep
    // COR_PRF_MONITOR_ENTERLEAVE and, with information, one of InfoFlags; without, none of them.
    HRESULT CheckMask(DWORD maskLow) const;
    void KeepMapper(FunctionIDMapper* mapper);
    void KeepMapper2(FunctionIDMapper2* mapper, void* clientData);

    bool HasHooks() const { return _kind != Kind::None; }
    bool HasMapper() const { return _mapper != nullptr || _mapper2 != nullptr; }
    // Hooks of the third version without information: the runtime takes them only under a mask without
    // InfoFlags.
    bool HasFastHooks() const { return _kind == Kind::Hooks3; }

    // Sets the mapper, then the hooks on the runtime: the first failure, or S_OK.
    HRESULT GiveTo(ICorProfilerInfo10* runtime) const;

private:
    HRESULT GiveHooksTo(ICorProfilerInfo10* runtime) const;

    Kind _kind = Kind::None;
    Hook _enter = nullptr;
    Hook _leave = nullptr;
    Hook _tailcall = nullptr;
    FunctionIDMapper* _mapper = nullptr;
    FunctionIDMapper2* _mapper2 = nullptr;
    void* _mapperClientData = nullptr;
};

} // namespace profilermultiplexer
