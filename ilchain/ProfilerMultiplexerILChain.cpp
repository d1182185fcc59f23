// The IL chain of ProfilerMultiplexer: JIT callbacks, the IL-body allocator and IL application.
#include "hosting/ProfilerMultiplexer.h"

#include "hosting/TargetProfilerProxy.h"
#include "ilchain/IFunctionILBlock.h"
#include "ilchain/ILMapComposition.h"
#include "ilchain/IMetadataHelper.h"
#include "logging/Logging.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace profilermultiplexer {

namespace {

// Runs an action when the scope ends, however it ends.
template <class Action> class ScopeExit {
public:
    explicit ScopeExit(Action action) : _action(std::move(action)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() {
        try {
            _action();
        } catch (...) {
        }
    }

private:
    Action _action;
};

// An allocation's address as the key of the allocation table.
ModuleID AllocationKey(const BYTE* block) {
    return reinterpret_cast<ModuleID>(block);
}

// Stands for a method whose module and token are not known.
const std::string& UnknownMethodName() {
    static const std::string name = "(unknown method)";
    return name;
}

// The block of the last target in the list that holds IL for the method, or an empty pointer.
std::shared_ptr<IFunctionILBlock>
LastNonEmptyBlock(const std::vector<std::shared_ptr<TargetProfilerProxy>>& proxies, ModuleID moduleId,
                  mdMethodDef methodDef) {
    for (auto proxy = proxies.rbegin(); proxy != proxies.rend(); ++proxy) {
        if (auto block = (*proxy)->GetNonEmptyILBlock(moduleId, methodDef)) {
            return block;
        }
    }
    return {};
}

// Shares the IL of the nearest target before the asking one that holds IL for the method, and returns
// that target; null when there is none.
template <class Proxies>
const ITargetProfilerProxy* TakeEarlierIL(const Proxies& proxies, const ITargetProfilerProxy* asking,
                                          ModuleID moduleId, mdMethodDef methodDef,
                                          std::shared_ptr<BYTE[]>* body, ULONG* size) {
    const auto [first, last] = proxies;
    const auto position =
        std::find_if(first, last, [asking](const auto& proxy) { return proxy.get() == asking; });
    if (position == last) {
        return nullptr;
    }
    for (auto earlier = std::make_reverse_iterator(position); earlier != std::make_reverse_iterator(first);
         ++earlier) {
        ITargetProfilerProxy& candidate = **earlier;
        const auto block = candidate.GetNonEmptyILBlock(moduleId, methodDef);
        if (!block) {
            continue;
        }
        // The block may have been cleared since on another thread: then look further.
        const auto il = block->GetILFunctionBody();
        if (il.first && il.second != 0) {
            std::tie(*body, *size) = std::move(il);
            return &candidate;
        }
    }
    return nullptr;
}

// The runtime's IL of the method, shared without a copy: the runtime keeps it readable as long as the module.
HRESULT ReadRuntimeIL(ICorProfilerInfo10* info, ModuleID moduleId, mdMethodDef methodDef,
                      std::pair<std::shared_ptr<BYTE[]>, ULONG>& il) {
    if (info == nullptr) {
        return E_FAIL;
    }
    LPCBYTE header = nullptr;
    ULONG size = 0;
    const HRESULT hr = info->GetILFunctionBody(moduleId, methodDef, &header, &size);
    if (FAILED(hr) || header == nullptr) {
        return FAILED(hr) ? hr : E_FAIL;
    }
    il = {IFunctionILBlock::RuntimeKeptIL(header), size};
    return hr;
}

// The IL maps that the runtime accepted from the targets while one JITCompilationStarted runs on this
// thread: each target's last one.
struct ChainILMaps {
    const IProfilerMultiplexer* multiplexer;
    FunctionID functionId;
    std::vector<std::pair<const ITargetProfilerProxy*, std::vector<COR_IL_MAP>>> maps;
};

thread_local ChainILMaps* t_chainILMaps = nullptr;

// With maps from several targets, gives the runtime, whose last map counts, their composition in list order.
template <class MethodName>
void SetComposedILMap(ICorProfilerInfo10* info,
                      const std::vector<std::shared_ptr<TargetProfilerProxy>>& proxies,
                      const ChainILMaps& chain, const MethodName& methodName) {
    if (chain.maps.size() < 2 || info == nullptr) {
        return;
    }
    ILMapComposition composition;
    for (const auto& proxy : proxies) {
        const ITargetProfilerProxy* target = proxy.get();
        const auto kept = std::find_if(chain.maps.begin(), chain.maps.end(),
                                       [target](const auto& map) { return map.first == target; });
        if (kept != chain.maps.end()) {
            composition.Then(kept->second.data(), static_cast<ULONG>(kept->second.size()));
        }
    }
    std::vector<COR_IL_MAP>& entries = composition.Entries();
    if (IsLogLevelEnabled(spdlog::level::debug)) {
        Debug("ProfilerMultiplexer::JITCompilationStarted, setting IL code map for {}, composed of the maps "
              "of {} profilers",
              methodName(), composition.Steps());
    }
    const HRESULT hr = info->SetILInstrumentedCodeMap(chain.functionId, FALSE,
                                                      static_cast<ULONG>(entries.size()), entries.data());
    if (FAILED(hr)) {
        Error("ProfilerMultiplexer::JITCompilationStarted, SetILInstrumentedCodeMap failed for {} with error "
              "hr = {:x}",
              methodName(), hr);
    }
}

} // namespace

HRESULT ProfilerMultiplexer::GetFunctionModuleAndToken(FunctionID functionId, ModuleID& moduleId,
                                                       mdMethodDef& methodDef) const {
    ICorProfilerInfo10* info = RuntimeInfo();
    if (info == nullptr) {
        return E_FAIL;
    }
    ClassID classId = 0;
    return info->GetFunctionInfo(functionId, &classId, &moduleId, &methodDef);
}

HRESULT ProfilerMultiplexer::JITCompilationStarted(FunctionID functionId, BOOL fIsSafeToBlock) {
    return RuntimeEntry([&] {
        ModuleID moduleId = 0;
        mdMethodDef methodDef = 0;
        const HRESULT found = GetFunctionModuleAndToken(functionId, moduleId, methodDef);
        // The targets run without a lock; the method's chain keeps other threads' chains of it out.
        bool inChain = false;
        ScopeExit leaveChain([&] {
            if (inChain) {
                LeaveMethodChain(moduleId, methodDef);
            }
        });
        if (FAILED(found)) {
            Error("ProfilerMultiplexer::JITCompilationStarted, GetFunctionInfo returns error: hr={:x}",
                  found);
        } else {
            // The entries the compilation reads, loaded together rather than one miss after another.
            _methods.Prefetch(moduleId, methodDef);
            for (const auto& proxy : _targetProfilerProxies) {
                proxy->PrefetchBlock(moduleId, methodDef);
            }
            std::unique_lock<FastMutex> lock(_methodsLock);
            EnterMethodChain(lock, moduleId, methodDef);
            inChain = true;
            MethodState& method = _methods.FindOrAdd(moduleId, methodDef);
            if (method.functionId != functionId) {
                method.functionId = functionId;
                method.functionIdOfItsModuleOnly = false;
            }
            method.hasFunctionId = true;
        }
        auto methodName = [&]() -> std::string {
            return SUCCEEDED(found) ? _metadataHelper->GetMethodName(moduleId, methodDef)
                                    : UnknownMethodName();
        };

        ScopeExit clearBlocks([&] {
            if (SUCCEEDED(found)) {
                ClearMethodILBlocksAfterJitCompilation(moduleId, methodDef);
            }
        });
        if (IsLogLevelEnabled(spdlog::level::trace)) {
            Trace("JITCompilationStarted for functionId: {:x}, {}", functionId, methodName());
        }
        ChainILMaps chainILMaps{this, functionId, {}};
        ChainILMaps* const outerILMaps = std::exchange(t_chainILMaps, &chainILMaps);
        ScopeExit restoreILMaps([outerILMaps] { t_chainILMaps = outerILMaps; });
        auto call = [&](ICorProfilerCallback9* target) {
            return target->JITCompilationStarted(functionId, fIsSafeToBlock);
        };
        const HRESULT result = ForAllTargetProfilers(FunctionName::JITCompilationStarted, std::ref(call));
        if (FAILED(result)) {
            Error("ProfilerMultiplexer::JITCompilationStarted, JITCompilationStarted for {}, returns error: "
                  "hr={:x}",
                  methodName(), result);
            return result;
        }
        SetComposedILMap(RuntimeInfo(), _targetProfilerProxies, chainILMaps, methodName);
        if (FAILED(found)) {
            return S_OK;
        }
        const auto block = LastNonEmptyBlock(_targetProfilerProxies, moduleId, methodDef);
        if (!block) {
            if (IsLogLevelEnabled(spdlog::level::trace)) {
                Trace("ProfilerMultiplexer::JITCompilationStarted, could not find an IL block for {}",
                      methodName());
            }
            return S_OK;
        }
        return SetILFunctionBody(block, moduleId, methodDef);
    });
}

HRESULT ProfilerMultiplexer::JITCompilationFinished(FunctionID functionId, HRESULT hrStatus,
                                                    BOOL fIsSafeToBlock) {
    return RuntimeEntry([&] {
        if (IsLogLevelEnabled(spdlog::level::trace)) {
            Trace("ProfilerMultiplexer::JITCompilationFinished,  functionId {:x}", functionId);
        }
        auto call = [&](ICorProfilerCallback9* target) {
            return target->JITCompilationFinished(functionId, hrStatus, fIsSafeToBlock);
        };
        const HRESULT result = ForAllTargetProfilers(FunctionName::JITCompilationFinished, std::ref(call));
        if (FAILED(result)) {
            Error("ProfilerMultiplexer::JITCompilationFinished: failed for function id: {:x}, hr: {:x}",
                  functionId, result);
        }
        return result;
    });
}

HRESULT ProfilerMultiplexer::PrepareILBodyAllocator(ICorProfilerInfo10* info, ModuleID moduleId) {
    if (_runtimeILAllocator.load(std::memory_order_acquire) != nullptr) {
        return S_OK;
    }
    IMethodMalloc* malloc = nullptr;
    HRESULT hr = info != nullptr ? info->GetILFunctionBodyAllocator(moduleId, &malloc) : E_FAIL;
    if (SUCCEEDED(hr) && malloc == nullptr) {
        hr = E_FAIL;
    }
    if (FAILED(hr)) {
        Error(
            "ProfilerMultiplexer::PrepareILBodyAllocator, the runtime gives no IL-body allocator, hr = {:x}",
            hr);
        return hr;
    }
    IMethodMalloc* none = nullptr;
    if (!_runtimeILAllocator.compare_exchange_strong(none, malloc, std::memory_order_acq_rel)) {
        malloc->Release();
    }
    return S_OK;
}

PVOID ProfilerMultiplexer::Alloc(ULONG size) {
    if (IsLogLevelEnabled(spdlog::level::trace)) {
        Trace("Alloc with size: {:d}", size);
    }
    IMethodMalloc* malloc = _runtimeILAllocator.load(std::memory_order_acquire);
    // Never empty: a header read from an empty piece stays inside it and finds no method.
    auto* memory = malloc != nullptr ? static_cast<BYTE*>(malloc->Alloc(size == 0 ? 1 : size)) : nullptr;
    if (memory == nullptr) {
        Error("ProfilerMultiplexer::Alloc, could not allocate {:d} bytes", size);
        return nullptr;
    }
    if (size == 0) {
        *memory = 0;
    }
    try {
        std::lock_guard<FastMutex> lock(_allocationLock);
        _allocations.FindOrAdd(AllocationKey(memory), 0) = size;
        _totalAllocatedBytes += size;
        if (IsLogLevelEnabled(spdlog::level::trace)) {
            Trace("Alloc with size: {:d} in address {:p}  Total allocated memory: {} bytes", size,
                  static_cast<const void*>(memory), _totalAllocatedBytes);
        }
    } catch (...) {
        // Unrecorded: set as IL, it is sized from its header.
        Error("ProfilerMultiplexer::Alloc, could not record {:d} bytes at {:p}", size,
              static_cast<const void*>(memory));
    }
    return memory;
}

ULONG ProfilerMultiplexer::TakeAllocationSize(const BYTE* block) {
    std::lock_guard<FastMutex> lock(_allocationLock);
    const ULONG* found = _allocations.Find(AllocationKey(block), 0);
    if (found == nullptr) {
        Error("Can't find allocation size for: {:p}", static_cast<const void*>(block));
        return 0;
    }
    const ULONG size = *found;
    _totalAllocatedBytes -= size;
    _allocations.Erase(AllocationKey(block), 0);
    if (IsLogLevelEnabled(spdlog::level::trace)) {
        Trace("TakeAllocationSize for address {:p} returns: {:d}", static_cast<const void*>(block), size);
    }
    return size;
}

void ProfilerMultiplexer::ReleaseAllAllocations() noexcept {
    _allocations.Clear();
    _totalAllocatedBytes = 0;
    if (IMethodMalloc* malloc = _runtimeILAllocator.exchange(nullptr)) {
        malloc->Release();
    }
}

HRESULT ProfilerMultiplexer::GetILFunctionBodyForProxy(ITargetProfilerProxy* proxy, ModuleID moduleId,
                                                       mdMethodDef methodDef, std::shared_ptr<BYTE[]>* body,
                                                       ULONG* size) {
    return RuntimeEntry([&] {
        if (body == nullptr || size == nullptr) {
            return E_INVALIDARG;
        }
        if (const ITargetProfilerProxy* holder =
                TakeEarlierIL(InitializedProxyInterfaces(), proxy, moduleId, methodDef, body, size)) {
            if (IsLogLevelEnabled(spdlog::level::trace)) {
                Trace("ProfilerMultiplexer::GetILFunctionBodyForProxy, found IL of size: {:d} from {} for {}",
                      *size, holder->GetName(), _metadataHelper->GetMethodName(moduleId, methodDef));
            }
            return S_OK;
        }
        std::lock_guard<FastMutex> lock(_methodsLock);
        // Looked up without making an entry: a method whose IL cannot be read leaves none behind.
        if (const MethodState* found = _methods.Find(moduleId, methodDef)) {
            if (found->hasIL && found->il && found->ilSize != 0) {
                *body = found->il;
                *size = found->ilSize;
                if (IsLogLevelEnabled(spdlog::level::trace)) {
                    Trace("ProfilerMultiplexer::GetILFunctionBodyForProxy, found IL of size: {:d} from "
                          "original after Jit cached IL for {}",
                          *size, _metadataHelper->GetMethodName(moduleId, methodDef));
                }
                return S_OK;
            }
        }
        if (IsUnloaded(moduleId)) {
            // A call that began before the unload: the runtime may have freed the module already.
            return E_FAIL;
        }
        std::pair<std::shared_ptr<BYTE[]>, ULONG> read;
        const HRESULT hr = ReadRuntimeIL(RuntimeInfo(), moduleId, methodDef, read);
        if (FAILED(hr)) {
            Error("ProfilerMultiplexer::GetILFunctionBodyForProxy failed to get IL for {}",
                  _metadataHelper->GetMethodName(moduleId, methodDef));
            return hr;
        }
        MethodState& cached = _methods.FindOrAdd(moduleId, methodDef);
        std::tie(cached.il, cached.ilSize) = std::move(read);
        cached.hasIL = true;
        *body = cached.il;
        *size = cached.ilSize;
        if (IsLogLevelEnabled(spdlog::level::trace)) {
            Trace("ProfilerMultiplexer::GetILFunctionBodyForProxy, Get IL from the real _pCorProfilerInfo, "
                  "and update "
                  "the buffer. The IL size is: {:d} for {}",
                  *size, _metadataHelper->GetMethodName(moduleId, methodDef));
        }
        return hr;
    });
}

void ProfilerMultiplexer::KeepILInstrumentedCodeMap(ITargetProfilerProxy* proxy, FunctionID functionId,
                                                    ULONG count, const COR_IL_MAP* entries) noexcept {
    ChainILMaps* chain = t_chainILMaps;
    if (chain == nullptr || chain->multiplexer != this || chain->functionId != functionId) {
        return;
    }
    try {
        std::vector<COR_IL_MAP> map(entries, entries + count);
        const auto kept = std::find_if(chain->maps.begin(), chain->maps.end(),
                                       [proxy](const auto& each) { return each.first == proxy; });
        if (kept != chain->maps.end()) {
            kept->second = std::move(map);
        } else {
            chain->maps.emplace_back(proxy, std::move(map));
        }
    } catch (...) {
        Error("ProfilerMultiplexer::KeepILInstrumentedCodeMap, could not keep the IL code map of {}",
              proxy->GetName());
    }
}

void ProfilerMultiplexer::SetFunctionILIfNewFunction(const std::shared_ptr<IFunctionILBlock>& block,
                                                     ModuleID moduleId, mdMethodDef methodDef) {
    NoThrowEntry([&] {
        {
            std::lock_guard<FastMutex> lock(_methodsLock);
            // The runtime may have freed the module: the IL stays in the target's block. A write in flight
            // holds the target's proxy lock, which the unload waits for.
            if (IsUnloaded(moduleId)) {
                Error(
                    "ProfilerMultiplexer::SetFunctionILIfNewFunction, the module of {} has unloaded: its IL "
                    "is not given to the runtime",
                    _metadataHelper->GetMethodName(moduleId, methodDef));
                return S_OK;
            }
            const MethodState* method = _methods.Find(moduleId, methodDef);
            if (method != nullptr && method->hasFunctionId) {
                if (IsLogLevelEnabled(spdlog::level::trace)) {
                    Trace("ProfilerMultiplexer::SetFunctionILIfNewFunction, Found an existing function: {}",
                          _metadataHelper->GetMethodName(moduleId, methodDef));
                }
                return S_OK;
            }
        }
        if (IsLogLevelEnabled(spdlog::level::trace)) {
            Trace("ProfilerMultiplexer::SetFunctionILIfNewFunction, Found new created function: {}",
                  _metadataHelper->GetMethodName(moduleId, methodDef));
        }
        const HRESULT applied = SetILFunctionBody(block, moduleId, methodDef);
        // The runtime holds the IL now, as if the target had set it directly: the chain reads it from the
        // IL cache, and at the compilation every target rewrites on from it, the earlier ones included,
        // instead of the block standing for the last word.
        if (SUCCEEDED(applied) && block) {
            block->ClearILFunctionBody();
        }
        return applied;
    });
}

HRESULT ProfilerMultiplexer::SetILFunctionBody(const std::shared_ptr<IFunctionILBlock>& block,
                                               ModuleID moduleId, mdMethodDef methodDef) {
    return RuntimeEntry([&] {
        std::shared_ptr<BYTE[]> buffer;
        ULONG size = 0;
        if (block) {
            std::tie(buffer, size) = block->GetILFunctionBody();
        }
        if (!buffer || size == 0) {
            if (IsLogLevelEnabled(spdlog::level::trace)) {
                Trace("ProfilerMultiplexer::SetILFunctionBody for {}, found an empty IL block, ignoring it.",
                      _metadataHelper->GetMethodName(moduleId, methodDef));
            }
            return S_OK;
        }
        ICorProfilerInfo10* info = RuntimeInfo();
        if (info == nullptr) {
            return E_FAIL;
        }
        // The runtime's own memory (a target's piece from the allocator, or what the runtime holds) goes as
        // it is: the runtime keeps the pointer, as it would the target's.
        BYTE* memory = IFunctionILBlock::IsRuntimeKeptIL(buffer) ? buffer.get() : nullptr;
        if (memory == nullptr) {
            const HRESULT prepared = PrepareILBodyAllocator(info, moduleId);
            if (FAILED(prepared)) {
                return prepared;
            }
            memory = static_cast<BYTE*>(_runtimeILAllocator.load(std::memory_order_acquire)->Alloc(size));
            if (memory == nullptr) {
                Error("ProfilerMultiplexer::SetILFunctionBody, the runtime's allocator has no {:d} bytes for "
                      "{}",
                      size, _metadataHelper->GetMethodName(moduleId, methodDef));
                return E_OUTOFMEMORY;
            }
            std::memcpy(memory, buffer.get(), size);
        }
        HRESULT hr = info->SetILFunctionBody(moduleId, methodDef, static_cast<LPCBYTE>(memory));
        if (FAILED(hr)) {
            Error("ProfilerMultiplexer::SetILFunctionBody: Failing to set IL method body, for {} header: "
                  "{:p}, size: "
                  "{:d}  hr: {:x}",
                  _metadataHelper->GetMethodName(moduleId, methodDef), static_cast<const void*>(buffer.get()),
                  size, hr);
            return hr;
        }
        // The runtime keeps the body it was given, unchanged, as long as the module: the cache refers to it
        // instead of keeping a copy of its own.
        const std::shared_ptr<BYTE[]> applied = IFunctionILBlock::RuntimeKeptIL(memory);
        std::lock_guard<FastMutex> lock(_methodsLock);
        MethodState& method = _methods.FindOrAdd(moduleId, methodDef);
        method.il = applied;
        method.ilSize = size;
        method.hasIL = true;
        if (IsLogLevelEnabled(spdlog::level::trace)) {
            Trace("ProfilerMultiplexer::SetILFunctionBody: real SetILFunctionBody was called for {} header: "
                  "{:p}, "
                  "size: {:d}",
                  _metadataHelper->GetMethodName(moduleId, methodDef), static_cast<const void*>(buffer.get()),
                  size);
        }
        return hr;
    });
}

void ProfilerMultiplexer::ClearMethodILBlocksAfterJitCompilation(ModuleID moduleId, mdMethodDef methodDef) {
    for (const auto& proxy : _targetProfilerProxies) {
        if (const auto block = proxy->GetFunctionILBlock(moduleId, methodDef)) {
            block->ClearILFunctionBody();
        }
    }
}

} // namespace profilermultiplexer
