#include "hosting/ClassFactory.h"

#include "hosting/FakeComUtil.h"
#include "hosting/ProfilerMultiplexer.h"
#include "hosting/TargetProfilerFactory.h"
#include "logging/Logging.h"

#include <cctype>
#include <exception>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace profilermultiplexer {

namespace {

using TargetList = std::vector<std::tuple<ICorProfilerCallback9*, ProfilerSettings>>;

const std::u16string ForceProfilerMultiplexer = u"FORCE_PROFILER_MULTIPLEXER";

// "1", or "true" in any case.
bool IsForcingValue(std::u16string const& value) {
    if (value == u"1") {
        return true;
    }
    std::u16string const expected = u"true";
    if (value.size() != expected.size()) {
        return false;
    }
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != expected[i] &&
            (value[i] > 0x7F || std::toupper(value[i]) != std::toupper(expected[i]))) {
            return false;
        }
    }
    return true;
}

void ReleaseTargets(TargetList& targets) noexcept {
    for (auto& target : targets) {
        ReleaseTargetObject(std::get<0>(target));
    }
    targets.clear();
}

// Asks the new target for the runtime's interface and gives back the reference that adds. False when the
// target does not answer it; the target is then released for good.
bool AnswersRuntimeInterface(ICorProfilerCallback9* callback, std::u16string const& name, REFIID riid,
                             void** ppv) noexcept {
    HRESULT hr = E_FAIL;
    try {
        hr = callback->QueryInterface(riid, ppv);
    } catch (...) {
        ErrorW(u"ClassFactory::CreateInstance: Error creating profiler: {}, an exception was thrown by the "
               u"profiler",
               name);
        ReleaseTargetObject(callback);
        return false;
    }
    if (FAILED(hr)) {
        ErrorW(u"ClassFactory::CreateInstance: Error creating profiler: {}, failed on query interface with "
               u"hr=0x{:x}",
               name, hr);
    }
    try {
        callback->Release();
    } catch (...) {
        // Its count is unknown now: leave it alone rather than release it twice.
        ErrorW(u"ClassFactory::CreateInstance: Error creating profiler: {}, an exception was thrown by the "
               u"profiler",
               name);
        return false;
    }
    return SUCCEEDED(hr);
}

// The target's object with the one reference its creation gave, or null when it is left out.
ICorProfilerCallback9* CreateTarget(ProfilerSettings const& settings, REFIID riid, void** ppv) noexcept {
    ICorProfilerCallback9* callback = nullptr;
    HRESULT const hr = TargetProfilerFactory::CreateProfiler(settings, &callback);
    if (FAILED(hr)) {
        ErrorW(u"ClassFactory::CreateInstance: Error creating profiler: {}, error code: 0x{:x}",
               settings.name, hr);
        return nullptr;
    }
    if (callback == nullptr) {
        ErrorW(u"ClassFactory::CreateInstance: Error creating profiler: {}, profiler interface is null",
               settings.name);
        return nullptr;
    }
    return AnswersRuntimeInterface(callback, settings.name, riid, ppv) ? callback : nullptr;
}

// Builds the multiplexer over the targets and answers the runtime through it. A multiplexer that does
// not answer riid is destroyed again, and with it the targets' references.
HRESULT HandToMultiplexer(bool isCoreClr, TargetList& targets, REFIID riid, void** ppv) {
    std::vector<ICorProfilerCallback9*> callbacks;
    callbacks.reserve(targets.size());
    for (auto const& target : targets) {
        callbacks.push_back(std::get<0>(target));
    }
    std::unique_ptr<ProfilerMultiplexer> multiplexer;
    try {
        multiplexer = std::make_unique<ProfilerMultiplexer>(isCoreClr, std::move(targets));
    } catch (...) {
        // Once moved into the failed constructor, the references are no longer in targets.
        if (targets.empty()) {
            for (ICorProfilerCallback9* callback : callbacks) {
                ReleaseTargetObject(callback);
            }
        }
        throw;
    }
    HRESULT const hr = multiplexer->QueryInterface(riid, ppv);
    if (SUCCEEDED(hr)) {
        multiplexer.release();
    }
    return hr;
}

HRESULT Activate(bool isCoreClr, REFIID riid, void** ppv, TargetList& created) {
    std::vector<ProfilerSettings> settings = TargetProfilerFactory::BuildProfilerSet(isCoreClr);
    if (IsLogLevelEnabled(spdlog::level::info)) {
        Info("ClassFactory: ProfilerSet size is {}", settings.size());
    }
    if (settings.empty()) {
        Error("ClassFactory: No profiler has been configure, exiting.");
        return CORPROF_E_PROFILER_CANCEL_ACTIVATION;
    }
    bool const force = IsForcingValue(Util::GetEnvironmentValue(ForceProfilerMultiplexer));
    created.reserve(settings.size());
    for (ProfilerSettings& entry : settings) {
        if (ICorProfilerCallback9* callback = CreateTarget(entry, riid, ppv)) {
            created.emplace_back(callback, std::move(entry));
        }
    }
    if (created.size() == 1 && !force) {
        InfoW(u"ClassFactory: A single profiler has detected, the multiplexer profiler will transfer direct "
              u"control "
              u"to the {} profiler!",
              std::get<1>(created.front()).name);
        *ppv = std::get<0>(created.front());
        created.clear();
        return S_OK;
    }
    if (!created.empty()) {
        return HandToMultiplexer(isCoreClr, created, riid, ppv);
    }
    if (IsLogLevelEnabled(spdlog::level::info)) {
        Info("Profiler Multiplexer: Initialization failed, no target profiler is found or configured");
    }
    return CORPROF_E_PROFILER_CANCEL_ACTIVATION;
}

} // namespace

ClassFactory::ClassFactory(bool isCoreClr) noexcept : _isCoreClr(isCoreClr) {
    try {
        Singleton<LoggerManager>::Instance().InitiateMainLogger(isCoreClr);
    } catch (...) {
        // Log calls fall back to the system log until a logger can be built.
    }
}

HRESULT ClassFactory::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG ClassFactory::AddRef() {
    return static_cast<ULONG>(++_refCount);
}

ULONG ClassFactory::Release() {
    int32_t const count = --_refCount;
    if (count <= 0) {
        delete this;
    }
    return static_cast<ULONG>(count);
}

HRESULT ClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (pUnkOuter != nullptr) {
        *ppv = nullptr;
        return CLASS_E_NOAGGREGATION;
    }
    TargetList created;
    try {
        return Activate(_isCoreClr, riid, ppv, created);
    } catch (std::exception const& e) {
        Error("ClassFactory::CreateInstance: activation failed: {}", e.what());
    } catch (...) {
        Error("ClassFactory::CreateInstance: activation failed");
    }
    ReleaseTargets(created);
    *ppv = nullptr;
    return E_FAIL;
}

HRESULT ClassFactory::LockServer(BOOL) {
    return S_OK;
}

} // namespace profilermultiplexer
