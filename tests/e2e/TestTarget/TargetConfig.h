// What one instance of the test target does, read from E2E_TARGET_<number>_* environment variables.
#pragma once

#include "ComBase.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

struct TargetConfig {
    int number = 0;
    DWORD maskLow = 0;             // _MASK_LOW
    DWORD maskHigh = 0;            // _MASK_HIGH
    bool useSetEventMask2 = false; // _USE_SETEVENTMASK2: non-zero sets both words, else SetEventMask(low)
    std::string out;               // _OUT: the record file; empty records nothing
    int infoVersion = 10;          // _INFO_VERSION: ICorProfilerInfo version asked of the info object, 1..11
    HRESULT initResult = S_OK;     // _INIT_RESULT: what Initialize returns
    int initDelayMs = 0;           // _INIT_DELAY_MS: Initialize waits this long before it returns
    // _PROXY_THREAD_MS: Initialize starts a thread that reads IL through the info object for this long
    int proxyThreadMs = 0;
    std::optional<uint64_t> newMaskOnModuleLoad; // _NEW_MASK_ON_MODULELOAD: high << 32 | low, set once
    HRESULT newMaskResult = S_OK; // _NEW_MASK_RESULT: what setting it must give; a failure keeps the mask
    // Methods are named "Type::Method"; a name ending in '*' stands for every method it begins.
    std::vector<std::string> ilMethods; // _IL_METHODS: comma-separated, rewritten at their first JIT
    std::string ilRewrite;              // _IL_REWRITE: the rewrite, for JIT and ReJIT (see IlRewrite)
    std::optional<int> ilExpect;        // _IL_EXPECT: how many methods must have been rewritten at JIT
    bool ilAtLoad = false;              // _IL_AT_LOAD: non-zero rewrites them at their ModuleLoadFinished
    std::string rejitMethod;            // _REJIT_METHOD: the method the target ReJITs and reverts
    // _REJIT_STEPS: "Type::Marker=action,...": when a marker method is JIT-compiled the target requests
    // "rejit" or "revert" of the ReJIT method from its own thread, or "drop"s it: from then on its
    // GetReJITParameters leaves the method's IL alone.
    std::map<std::string, std::string> rejitSteps;
    std::string throwIn; // _THROW_IN: the callback that throws a std::runtime_error, each time
    std::string
        rejitInCallback; // _REJIT_IN_CALLBACK: "rejit" or "revert" from inside the first GetReJITParameters
    // _UNLOAD_READ: comma-separated "Namespace.Type::Method" names whose IL the target reads in the
    // ModuleUnloadStarted of a module that defines them
    std::vector<std::string> unloadRead;
    // _REJIT_INLINERS: a "rejit" step asks RequestReJITWithInliners with these COR_PRF_REJIT_FLAGS
    std::optional<DWORD> rejitInliners;
    bool rejitRewritesInliners = false; // _REJIT_REWRITE_INLINERS: GetReJITParameters rewrites every method
    // _ENTER_LEAVE_HOOKS: non-zero sets enter/leave hooks with information in Initialize, after the mask
    bool enterLeaveHooks = false;
    // _DETACH_AFTER_JIT: after this many JIT compilations the target asks to be detached, from its own thread
    int detachAfterJit = 0;
    // _IL_NOPS: each rewrite, at JIT and ReJIT, also puts this many nops in front and sets the IL map
    int ilNops = 0;
    // _FUNCTION_ID_MAPPER: non-zero sets a function id mapper in Initialize, after the mask and before any
    // hooks, that hooks every function and marks the id it gives (the function id plus one)
    bool functionIdMapper = false;
    // _WAIT_IN: "Callback=action": in the first call of that callback (JITCompilationStarted or a ReJIT
    // callback) for the ReJIT method, the target's own thread requests "rejit" or "revert" of the method
    // _WAIT_METHOD (known from its JIT compilation) while the callback waits for it, a few seconds at most
    std::string waitIn;
    std::string waitAction;
    std::string waitMethod;

    static TargetConfig FromEnvironment(int number);
};

} // namespace e2e
