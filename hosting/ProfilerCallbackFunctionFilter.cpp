#include "hosting/ProfilerCallbackFunctionFilter.h"

#include "logging/Logging.h"

namespace profilermultiplexer {

namespace {

using FunctionName = ProfilerCallbackFunctionFilter::FunctionName;

constexpr uint64_t High(uint32_t bits) {
    return uint64_t{bits} << 32;
}

// Required mask of each callback: the event-mask bits of which a target must have set at least one.
constexpr uint64_t RequiredMask(FunctionName function) {
    switch (function) {
    case FunctionName::None:
        return 0;
    case FunctionName::Initialize:
    case FunctionName::Shutdown:
    case FunctionName::InitializeForAttach:
    case FunctionName::ProfilerAttachComplete:
    case FunctionName::ProfilerDetachSucceeded:
    case FunctionName::ConditionalWeakTableElementReferences:
        return ProfilerCallbackFunctionFilter::Always;
    case FunctionName::AppDomainCreationStarted:
    case FunctionName::AppDomainCreationFinished:
    case FunctionName::AppDomainShutdownStarted:
    case FunctionName::AppDomainShutdownFinished:
        return COR_PRF_MONITOR_APPDOMAIN_LOADS;
    case FunctionName::AssemblyLoadStarted:
    case FunctionName::AssemblyLoadFinished:
    case FunctionName::AssemblyUnloadStarted:
    case FunctionName::AssemblyUnloadFinished:
        return COR_PRF_MONITOR_ASSEMBLY_LOADS;
    case FunctionName::ModuleLoadStarted:
    case FunctionName::ModuleLoadFinished:
    case FunctionName::ModuleUnloadStarted:
    case FunctionName::ModuleUnloadFinished:
    case FunctionName::ModuleAttachedToAssembly:
        return COR_PRF_MONITOR_MODULE_LOADS;
    case FunctionName::ClassLoadStarted:
    case FunctionName::ClassLoadFinished:
    case FunctionName::ClassUnloadStarted:
    case FunctionName::ClassUnloadFinished:
        return COR_PRF_MONITOR_CLASS_LOADS;
    case FunctionName::FunctionUnloadStarted:
        return COR_PRF_MONITOR_FUNCTION_UNLOADS;
    case FunctionName::JITCompilationStarted:
    case FunctionName::JITCompilationFinished:
    case FunctionName::JITFunctionPitched:
    case FunctionName::JITInlining:
        return COR_PRF_MONITOR_JIT_COMPILATION;
    case FunctionName::JITCachedFunctionSearchStarted:
    case FunctionName::JITCachedFunctionSearchFinished:
        return COR_PRF_MONITOR_CACHE_SEARCHES;
    case FunctionName::ThreadCreated:
    case FunctionName::ThreadDestroyed:
    case FunctionName::ThreadAssignedToOSThread:
    case FunctionName::ThreadNameChanged:
        return COR_PRF_MONITOR_THREADS;
    case FunctionName::RemotingClientInvocationStarted:
    case FunctionName::RemotingClientSendingMessage:
    case FunctionName::RemotingClientReceivingReply:
    case FunctionName::RemotingClientInvocationFinished:
    case FunctionName::RemotingServerReceivingMessage:
    case FunctionName::RemotingServerInvocationStarted:
    case FunctionName::RemotingServerInvocationReturned:
    case FunctionName::RemotingServerSendingReply:
        return COR_PRF_MONITOR_REMOTING;
    case FunctionName::UnmanagedToManagedTransition:
    case FunctionName::ManagedToUnmanagedTransition:
        return COR_PRF_MONITOR_CODE_TRANSITIONS;
    case FunctionName::RuntimeSuspendStarted:
    case FunctionName::RuntimeSuspendFinished:
    case FunctionName::RuntimeSuspendAborted:
    case FunctionName::RuntimeResumeStarted:
    case FunctionName::RuntimeResumeFinished:
    case FunctionName::RuntimeThreadSuspended:
    case FunctionName::RuntimeThreadResumed:
        return COR_PRF_MONITOR_SUSPENDS;
    // The runtime also raises it for large or pinned objects alone, under the high word's bits.
    case FunctionName::ObjectAllocated:
        return COR_PRF_MONITOR_OBJECT_ALLOCATED |
               High(COR_PRF_HIGH_MONITOR_LARGEOBJECT_ALLOCATED | COR_PRF_HIGH_MONITOR_PINNEDOBJECT_ALLOCATED);
    case FunctionName::MovedReferences:
    case FunctionName::ObjectsAllocatedByClass:
    case FunctionName::ObjectReferences:
    case FunctionName::RootReferences:
    case FunctionName::SurvivingReferences:
    case FunctionName::FinalizeableObjectQueued:
    case FunctionName::RootReferences2:
    case FunctionName::HandleCreated:
    case FunctionName::HandleDestroyed:
        return COR_PRF_MONITOR_GC;
    case FunctionName::GarbageCollectionStarted:
    case FunctionName::GarbageCollectionFinished:
        return COR_PRF_MONITOR_GC | High(COR_PRF_HIGH_BASIC_GC);
    case FunctionName::ExceptionThrown:
    case FunctionName::ExceptionSearchFunctionEnter:
    case FunctionName::ExceptionSearchFunctionLeave:
    case FunctionName::ExceptionSearchFilterEnter:
    case FunctionName::ExceptionSearchFilterLeave:
    case FunctionName::ExceptionSearchCatcherFound:
    case FunctionName::ExceptionOSHandlerEnter:
    case FunctionName::ExceptionOSHandlerLeave:
    case FunctionName::ExceptionUnwindFunctionEnter:
    case FunctionName::ExceptionUnwindFunctionLeave:
    case FunctionName::ExceptionUnwindFinallyEnter:
    case FunctionName::ExceptionUnwindFinallyLeave:
    case FunctionName::ExceptionCatcherEnter:
    case FunctionName::ExceptionCatcherLeave:
        return COR_PRF_MONITOR_EXCEPTIONS;
    case FunctionName::COMClassicVTableCreated:
    case FunctionName::COMClassicVTableDestroyed:
        return COR_PRF_MONITOR_CCW;
    case FunctionName::ExceptionCLRCatcherFound:
    case FunctionName::ExceptionCLRCatcherExecute:
        return COR_PRF_MONITOR_CLR_EXCEPTIONS;
    case FunctionName::ReJITCompilationStarted:
    case FunctionName::GetReJITParameters:
    case FunctionName::ReJITCompilationFinished:
    case FunctionName::ReJITError:
        return COR_PRF_ENABLE_REJIT;
    case FunctionName::MovedReferences2:
    case FunctionName::SurvivingReferences2:
        return High(COR_PRF_HIGH_MONITOR_GC_MOVED_OBJECTS);
    case FunctionName::GetAssemblyReferences:
        return High(COR_PRF_HIGH_ADD_ASSEMBLY_REFERENCES);
    case FunctionName::ModuleInMemorySymbolsUpdated:
        return High(COR_PRF_HIGH_IN_MEMORY_SYMBOLS_UPDATED);
    // The runtime raises the dynamic-method JIT callbacks under COR_PRF_MONITOR_JIT_COMPILATION.
    case FunctionName::DynamicMethodJITCompilationStarted:
    case FunctionName::DynamicMethodJITCompilationFinished:
        return COR_PRF_MONITOR_JIT_COMPILATION | High(COR_PRF_HIGH_MONITOR_DYNAMIC_FUNCTION_UNLOADS);
    case FunctionName::DynamicMethodUnloaded:
        return High(COR_PRF_HIGH_MONITOR_DYNAMIC_FUNCTION_UNLOADS);
    }
    return 0;
}

constexpr const char* CallbackNames[] = {"None",
#define PM_CALLBACK_NAME(kind, name, params, args) #name,
                                         PM_ALL_CORPROFILERCALLBACK_METHODS(PM_CALLBACK_NAME)
#undef PM_CALLBACK_NAME
};
static_assert(std::size(CallbackNames) == ProfilerCallbackFunctionFilter::FunctionCount,
              "one name per callback");

} // namespace

ProfilerCallbackFunctionFilter::ProfilerCallbackFunctionFilter() noexcept {
    for (std::size_t i = 0; i < FunctionCount; ++i) {
        _callbackMasks[i] = RequiredMask(static_cast<FunctionName>(i));
        _callbackNames[i] = CallbackNames[i];
    }
}

void ProfilerCallbackFunctionFilter::LogNonMaskedCallbackFunctions(const char* name, DWORD low,
                                                                   DWORD high) const noexcept {
    if (!IsLogLevelEnabled(spdlog::level::trace)) {
        return;
    }
    Trace("Callback functions for {}, mask: {:x}", name, uint64_t{high} << 32 | low);
    for (std::size_t i = 0; i < FunctionCount; ++i) {
        if (IsCallbackEnabled(static_cast<FunctionName>(i), low, high)) {
            Trace(_callbackNames[i]);
        }
    }
}

} // namespace profilermultiplexer
