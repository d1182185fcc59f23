#include "hosting/TargetProfilerFactory.h"

#include "hosting/FakeComUtil.h"
#include "logging/Logging.h"
#include "logging/Util.h"
#include "platform/ProfilerMultiplexerIds.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>

namespace profilermultiplexer {

namespace {

const std::u16string CoreClrPrefix = u"CORECLR_";
const std::u16string ClrPrefix = u"COR_";
const std::u16string ProfilersSuffix = u"PROFILERS";
const std::u16string EnableProfilingSuffix = u"_ENABLE_PROFILING";
const std::u16string ProfilerPath64Suffix = u"_PROFILER_PATH_64";
const std::u16string ProfilerPathSuffix = u"_PROFILER_PATH";
const std::u16string ProfilerSuffix = u"_PROFILER";
const std::u16string PrioritySuffix = u"_PRIORITY";
const std::u16string RevertRejitCallOrderSuffix = u"_REVERT_REJIT_CALL_ORDER";

// Splits at every ';'; an empty piece after a final ';' is dropped, other empty pieces are names too.
std::vector<std::u16string> SplitNames(std::u16string const& list) {
    std::vector<std::u16string> names;
    std::size_t begin = 0;
    while (begin < list.size()) {
        std::size_t const end = std::min(list.find(u';', begin), list.size());
        names.push_back(list.substr(begin, end - begin));
        begin = end + 1;
    }
    return names;
}

// The number at the start of the value, or nothing when there is none or it is out of range.
template <typename Number, typename Convert>
std::optional<Number> ParseNumber(std::u16string const& value, Convert const& convert) {
    try {
        return convert(Util::ToString(value));
    } catch (std::invalid_argument const&) {
    } catch (std::out_of_range const&) {
    }
    return std::nullopt;
}

std::optional<int> ParseInteger(std::u16string const& value) {
    return ParseNumber<int>(value, [](std::string const& text) { return std::stoi(text); });
}

std::optional<double> ParseDouble(std::u16string const& value) {
    return ParseNumber<double>(value, [](std::string const& text) { return std::stod(text); });
}

void LogNotANumber(std::u16string const& variable, std::u16string const& name) {
    WarnW(u"TargetProfilerFactory: The environment variable {} is not a valid number for {}, it will be "
          u"skipped",
          variable, name);
}

void LogValue(std::u16string const& variable, std::u16string const& value) {
    InfoW(u"TargetProfilerFactory: [{}]=\"{}\"", variable, value);
}

void LogNotSet(std::u16string const& variable, std::u16string const& name) {
    WarnW(u"TargetProfilerFactory: The environment variable {} is not set for {}, it will be skipped",
          variable, name);
}

bool IsEnabled(std::u16string const& stem, std::u16string const& name) {
    std::u16string const variable = stem + EnableProfilingSuffix;
    std::u16string const value = Util::GetEnvironmentValue(variable);
    if (value.empty()) {
        InfoW(u"TargetProfilerFactory: {} environment variable is empty", variable);
        return true;
    }
    std::optional<int> const enabled = ParseInteger(value);
    if (!enabled) {
        LogNotANumber(variable, name);
        return false;
    }
    if (*enabled == 0) {
        InfoW(u"TargetProfilerFactory: {} environment variable is set to zero, {} will be skipped", variable,
              name);
        return false;
    }
    LogValue(variable, value);
    return true;
}

std::optional<std::u16string> ReadPath(std::u16string const& stem, std::u16string const& name) {
    for (std::u16string const* suffix : {&ProfilerPath64Suffix, &ProfilerPathSuffix}) {
        std::u16string const variable = stem + *suffix;
        std::u16string value = Util::GetEnvironmentValue(variable);
        if (!value.empty()) {
            LogValue(variable, value);
            return value;
        }
    }
    WarnW(u"TargetProfilerFactory: profiler path is not set for {}, it will be skipped", name);
    return std::nullopt;
}

std::optional<std::u16string> ReadRequired(std::u16string const& variable, std::u16string const& name) {
    std::u16string value = Util::GetEnvironmentValue(variable);
    if (value.empty()) {
        LogNotSet(variable, name);
        return std::nullopt;
    }
    LogValue(variable, value);
    return value;
}

std::optional<double> ReadPriority(std::u16string const& stem, std::u16string const& name) {
    std::u16string const variable = stem + PrioritySuffix;
    std::optional<std::u16string> const value = ReadRequired(variable, name);
    if (!value) {
        return std::nullopt;
    }
    std::optional<double> const priority = ParseDouble(*value);
    if (!priority) {
        LogNotANumber(variable, name);
    }
    return priority;
}

std::optional<bool> ReadRevertRejitCallOrder(std::u16string const& stem, std::u16string const& name) {
    std::u16string const variable = stem + RevertRejitCallOrderSuffix;
    std::u16string const value = Util::GetEnvironmentValue(variable);
    if (value.empty()) {
        InfoW(u"TargetProfilerFactory: The environment variable {} does not exist for {}, it will be treated "
              u"as a "
              u"well-behave profiler",
              variable, name);
        return false;
    }
    std::optional<int> const flag = ParseInteger(value);
    if (!flag) {
        LogNotANumber(variable, name);
        return std::nullopt;
    }
    if (*flag != 0) {
        InfoW(u"TargetProfilerFactory: The environment variable {} is set for {}, it will be treated as a "
              u"misbehave "
              u"profiler",
              variable, name);
    }
    return *flag != 0;
}

// The settings of one target; nothing when the target is skipped.
std::optional<ProfilerSettings> ReadTarget(std::u16string const& prefix, std::u16string const& name) {
    std::u16string const stem = prefix + name;
    if (!IsEnabled(stem, name)) {
        return std::nullopt;
    }
    std::optional<std::u16string> path = ReadPath(stem, name);
    if (!path) {
        return std::nullopt;
    }
    std::optional<std::u16string> clsid = ReadRequired(stem + ProfilerSuffix, name);
    if (!clsid) {
        return std::nullopt;
    }
    std::optional<double> const priority = ReadPriority(stem, name);
    if (!priority) {
        return std::nullopt;
    }
    std::optional<bool> const revertRejitCallOrder = ReadRevertRejitCallOrder(stem, name);
    if (!revertRejitCallOrder) {
        return std::nullopt;
    }
    return ProfilerSettings(name, std::move(*path), std::move(*clsid), *priority, *revertRejitCallOrder);
}

// Ascending priority; a priority that is not a number goes after every other.
bool ComesBefore(ProfilerSettings const& a, ProfilerSettings const& b) {
    if (std::isnan(b.priority)) {
        return !std::isnan(a.priority);
    }
    return a.priority < b.priority;
}

// Class ids compare as GUIDs when both texts parse (case aside), else as texts.
bool IsSameClassId(std::u16string const& a, std::u16string const& b) {
    _GUID first{};
    _GUID second{};
    if (SUCCEEDED(IIDFromString(a.c_str(), &first)) && SUCCEEDED(IIDFromString(b.c_str(), &second))) {
        return first == second;
    }
    return a == b;
}

// Drops every target whose library path and class id an earlier one has: the same profiler would be
// loaded and called twice.
void DropRepeatedTargets(std::vector<ProfilerSettings>& settings) {
    std::vector<ProfilerSettings> kept;
    kept.reserve(settings.size());
    for (ProfilerSettings& entry : settings) {
        auto const earlier = std::find_if(kept.begin(), kept.end(), [&entry](ProfilerSettings const& other) {
            return other.path == entry.path && IsSameClassId(other.clsid, entry.clsid);
        });
        if (earlier != kept.end()) {
            WarnW(u"TargetProfilerFactory: {} has the same profiler path and class id as {}, it will be "
                  u"skipped",
                  entry.name, earlier->name);
            continue;
        }
        kept.push_back(std::move(entry));
    }
    settings = std::move(kept);
}

bool IsMultiplexerClassId(_GUID const& clsid) {
    return clsid == CLSID_CoreClrProfilerMultiplexer || clsid == CLSID_ClrProfilerMultiplexer;
}

// Asks the new object for ICorProfilerCallback2; the object is released when it does not answer.
HRESULT ProbeCallback2(IUnknown* object) {
    void* probed = nullptr;
    HRESULT hr = E_FAIL;
    try {
        hr = object->QueryInterface(IID_ICorProfilerCallback2, &probed);
    } catch (...) {
        ReleaseTargetObject(object);
        throw;
    }
    if (SUCCEEDED(hr) && probed != nullptr) {
        ReleaseTargetObject(static_cast<IUnknown*>(probed));
        return S_OK;
    }
    ReleaseTargetObject(object);
    return FAILED(hr) ? hr : E_NOINTERFACE;
}

HRESULT CreateTarget(ProfilerSettings const& settings, ICorProfilerCallback9** ppCallback) {
    _GUID clsid{};
    HRESULT hr = IIDFromString(settings.clsid.c_str(), &clsid);
    if (FAILED(hr)) {
        Error("TargetProfilerFactory::CreateProfiler, Error converting IID to string. IID: {}",
              Util::ToString(settings.clsid));
        return hr;
    }
    // Loaded as its own target, the multiplexer would read the same list again, without end.
    if (IsMultiplexerClassId(clsid)) {
        ErrorW(
            u"TargetProfilerFactory::CreateProfiler, {} has the class id of the profiler multiplexer itself "
            u"({}), it will not be loaded",
            settings.name, settings.clsid);
        return E_FAIL;
    }
    void* object = nullptr;
    hr = FakeCoCreateInstanceEx(clsid, settings.path.c_str(), IID_ICorProfilerCallback2, &object, nullptr);
    if (FAILED(hr)) {
        Error("TargetProfilerFactory: Error in FakeCoCreateInstanceEx, hr = 0X{:x}", hr);
        return hr;
    }
    if (object == nullptr) {
        return hr;
    }
    hr = ProbeCallback2(static_cast<IUnknown*>(object));
    if (SUCCEEDED(hr)) {
        *ppCallback = static_cast<ICorProfilerCallback9*>(object);
    }
    return hr;
}

} // namespace

std::vector<ProfilerSettings> TargetProfilerFactory::BuildProfilerSet(bool isCoreClr) {
    std::u16string const& prefix = isCoreClr ? CoreClrPrefix : ClrPrefix;
    std::u16string const list = Util::GetEnvironmentValue(prefix + ProfilersSuffix);
    std::vector<ProfilerSettings> result;
    for (std::u16string const& name : SplitNames(list)) {
        if (std::optional<ProfilerSettings> settings = ReadTarget(prefix, name)) {
            result.push_back(std::move(*settings));
        }
    }
    std::stable_sort(result.begin(), result.end(), ComesBefore);
    DropRepeatedTargets(result);
    return result;
}

HRESULT TargetProfilerFactory::CreateProfiler(ProfilerSettings const& settings,
                                              ICorProfilerCallback9** ppCallback) noexcept {
    *ppCallback = nullptr;
    try {
        return CreateTarget(settings, ppCallback);
    } catch (...) {
        ErrorW(u"TargetProfilerFactory::CreateProfiler, an exception was thrown while creating {}",
               settings.name);
        return E_FAIL;
    }
}

} // namespace profilermultiplexer
