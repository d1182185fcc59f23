// Module loads and unloads in ProfilerMultiplexer: what is kept per module goes with the module, and
// nothing kept for an unloaded module's id reaches the next module that takes the id.
#include "hosting/ProfilerMultiplexer.h"

#include "hosting/TargetProfilerProxy.h"
#include "ilchain/IMetadataHelper.h"
#include "ilchain/RejitProcessor.h"

#include <algorithm>
#include <functional>
#include <mutex>
#include <vector>

namespace profilermultiplexer {

namespace {

// Deeper or wider instantiations are taken as made of the module: their ids are forgotten.
constexpr int MaxTypeNesting = 8;
constexpr ULONG32 MaxTypeArgs = 16;

// How a function id's instantiation stands to a module that unloads.
enum class Instantiation { OfItsModuleOnly, OfOtherModules, OfTheModule };

// Whether the class, or a type it is made of, is the module's (or cannot be told); generic tells whether
// it has type arguments.
bool ClassUsesModule(ICorProfilerInfo10& info, ClassID classId, ModuleID moduleId, int depth, bool& generic) {
    if (depth > MaxTypeNesting) {
        return true;
    }
    CorElementType elementType{};
    ClassID element = 0;
    ULONG rank = 0;
    // An array is its element type's.
    if (info.IsArrayClass(classId, &elementType, &element, &rank) == S_OK) {
        generic = true;
        return element != 0 && ClassUsesModule(info, element, moduleId, depth + 1, generic);
    }
    ModuleID classModule = 0;
    mdTypeDef typeDef = 0;
    ClassID parent = 0;
    ULONG32 count = 0;
    ClassID typeArgs[MaxTypeArgs] = {};
    if (FAILED(
            info.GetClassIDInfo2(classId, &classModule, &typeDef, &parent, MaxTypeArgs, &count, typeArgs)) ||
        classModule == moduleId || count > MaxTypeArgs) {
        return true;
    }
    generic = generic || count != 0;
    return std::any_of(typeArgs, typeArgs + count, [&](ClassID typeArg) {
        return ClassUsesModule(info, typeArg, moduleId, depth + 1, generic);
    });
}

Instantiation ClassifyFunction(ICorProfilerInfo10& info, FunctionID functionId, ModuleID moduleId) {
    ClassID classId = 0;
    ModuleID functionModule = 0;
    mdToken token = 0;
    ULONG32 count = 0;
    ClassID typeArgs[MaxTypeArgs] = {};
    // No class: shared generic code, whose class the runtime cannot tell without a frame.
    if (FAILED(info.GetFunctionInfo2(functionId, 0, &classId, &functionModule, &token, MaxTypeArgs, &count,
                                     typeArgs)) ||
        count > MaxTypeArgs || classId == 0) {
        return Instantiation::OfTheModule;
    }
    bool generic = count != 0;
    const bool usesModule = ClassUsesModule(info, classId, moduleId, 0, generic) ||
                            std::any_of(typeArgs, typeArgs + count, [&](ClassID typeArg) {
                                return ClassUsesModule(info, typeArg, moduleId, 0, generic);
                            });
    if (usesModule) {
        return Instantiation::OfTheModule;
    }
    return generic ? Instantiation::OfOtherModules : Instantiation::OfItsModuleOnly;
}

} // namespace

HRESULT ProfilerMultiplexer::ModuleLoadStarted(ModuleID moduleId) {
    return RuntimeEntry([&] {
        // Before anything of the new module compiles.
        DropModuleIfUnloaded(moduleId);
        auto call = [&](ICorProfilerCallback9* target) { return target->ModuleLoadStarted(moduleId); };
        return ForAllTargetProfilers(FunctionName::ModuleLoadStarted, std::ref(call));
    });
}

HRESULT ProfilerMultiplexer::ModuleUnloadStarted(ModuleID moduleId) {
    return RuntimeEntry([&] {
        // The module stays valid until this callback returns: targets read it meanwhile, here or on their
        // own threads.
        auto call = [&](ICorProfilerCallback9* target) { return target->ModuleUnloadStarted(moduleId); };
        const HRESULT result = ForAllTargetProfilers(FunctionName::ModuleUnloadStarted, std::ref(call));
        {
            // Waits for a read of the module's IL in flight on a target's thread.
            std::lock_guard<FastMutex> lock(_methodsLock);
            _unloadedModules.Insert(moduleId);
        }
        ForgetInstantiationsOver(moduleId);
        return result;
    });
}

HRESULT ProfilerMultiplexer::ModuleUnloadFinished(ModuleID moduleId, HRESULT hrStatus) {
    return RuntimeEntry([&] {
        auto call = [&](ICorProfilerCallback9* target) {
            return target->ModuleUnloadFinished(moduleId, hrStatus);
        };
        const HRESULT result = ForAllTargetProfilers(FunctionName::ModuleUnloadFinished, std::ref(call));
        if (SUCCEEDED(hrStatus)) {
            DropModule(moduleId, false);
        }
        std::lock_guard<FastMutex> lock(_methodsLock);
        if (SUCCEEDED(hrStatus)) {
            _unloadedModules.Insert(moduleId);
        } else {
            _unloadedModules.Erase(moduleId);
        }
        return result;
    });
}

void ProfilerMultiplexer::DropModuleIfUnloaded(ModuleID moduleId) {
    {
        std::lock_guard<FastMutex> lock(_methodsLock);
        if (!IsUnloaded(moduleId)) {
            return;
        }
    }
    DropModule(moduleId, true);
    if (_metadataHelper) {
        _metadataHelper->ForgetDroppedModule(moduleId);
    }
}

bool ProfilerMultiplexer::HasUnloaded(ModuleID moduleId) {
    std::lock_guard<FastMutex> lock(_methodsLock);
    return IsUnloaded(moduleId);
}

void ProfilerMultiplexer::DropModule(ModuleID moduleId, bool clearUnloaded) {
    {
        std::lock_guard<FastRecursiveMutex> lock(_rejitLock);
        _rejitProcessors.erase(moduleId);
        const auto [first, last] = InitializedProxyInterfaces();
        for (auto proxy = first; proxy != last; ++proxy) {
            (*proxy)->DropModule(moduleId);
        }
    }
    {
        std::lock_guard<FastMutex> lock(_methodsLock);
        _methods.EraseModule(moduleId);
        // Together: a read or write of the id that is no longer refused finds nothing of the old module.
        if (clearUnloaded) {
            _unloadedModules.Erase(moduleId);
        }
    }
    // After the blocks: a line of theirs would open the module's metadata again.
    if (_metadataHelper) {
        _metadataHelper->DropModule(moduleId);
    }
    // Last, as the only step that allocates: a queued request would otherwise reach a new module that
    // takes the id.
    std::lock_guard<FastRecursiveMutex> lock(_rejitLock);
    _deferredPreparations.erase(
        std::remove_if(_deferredPreparations.begin(), _deferredPreparations.end(),
                       [moduleId](const auto& deferred) { return std::get<1>(deferred) == moduleId; }),
        _deferredPreparations.end());
    for (auto count = _pendingRejitRequests.size(); count != 0; --count) {
        if (std::get<1>(_pendingRejitRequests.front()) != moduleId) {
            _pendingRejitRequests.push(_pendingRejitRequests.front());
        }
        _pendingRejitRequests.pop();
    }
}

void ProfilerMultiplexer::ForgetInstantiationsOver(ModuleID moduleId) {
    ICorProfilerInfo10* info = RuntimeInfo();
    // The type queries need ICorProfilerInfo2, which a runtime with ICorProfilerInfo5 answers.
    if (info == nullptr || !_hasEventMask2) {
        return;
    }
    struct Candidate {
        ModuleID moduleId;
        mdMethodDef methodDef;
        FunctionID functionId;
        Instantiation instantiation;
    };
    std::vector<Candidate> candidates;
    {
        std::lock_guard<FastMutex> lock(_methodsLock);
        // The module's own entries go when it has unloaded.
        _methods.ForEach([&](ModuleID module, mdMethodDef method, const MethodState& state) {
            if (module != moduleId && state.functionId != 0 && !state.functionIdOfItsModuleOnly) {
                candidates.push_back({module, method, state.functionId, Instantiation::OfTheModule});
            }
        });
    }
    // The runtime is asked without the lock: compilations go on meanwhile.
    for (Candidate& candidate : candidates) {
        candidate.instantiation = ClassifyFunction(*info, candidate.functionId, moduleId);
    }
    std::lock_guard<FastMutex> lock(_methodsLock);
    for (const Candidate& candidate : candidates) {
        MethodState* state = _methods.Find(candidate.moduleId, candidate.methodDef);
        if (state == nullptr || state->functionId != candidate.functionId) {
            continue;
        }
        if (candidate.instantiation == Instantiation::OfTheModule) {
            state->functionId = 0;
        } else {
            state->functionIdOfItsModuleOnly = candidate.instantiation == Instantiation::OfItsModuleOnly;
        }
    }
}

} // namespace profilermultiplexer
