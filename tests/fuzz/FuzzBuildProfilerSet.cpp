// TargetProfilerFactory::BuildProfilerSet over fuzzed environments. The input is lines: the first one's
// first byte picks the prefix (odd: CORECLR_, even: COR_) and the rest is the target list; every further
// line is one variable, its first byte picking the suffix, its second the target, the rest its value.
// With well-formed UTF-8 everywhere the result is what a model of the documented rules gives; otherwise
// it is that or std::range_error, never anything else.
#include "FuzzText.h"
#include "hosting/TargetProfilerFactory.h"
#include "logging/Util.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

using profilermultiplexer::ProfilerSettings;
using profilermultiplexer::TargetProfilerFactory;

namespace {

const char* const Suffixes[] = {"_ENABLE_PROFILING",
                                "_PROFILER_PATH_64",
                                "_PROFILER_PATH",
                                "_PROFILER",
                                "_PRIORITY",
                                "_REVERT_REJIT_CALL_ORDER",
                                ""};

[[noreturn]] void Finding(const char* what) {
    std::fprintf(stderr, "BuildProfilerSet: %s\n", what);
    std::abort();
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t end = std::min(text.find(separator, begin), text.size());
        pieces.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    return pieces;
}

// The variables set for the previous input, as "name=value" texts that the environment points into; owned
// here and unset before the next input, since setenv would keep every value it was ever given.
std::list<std::string>& SetVariables() {
    static std::list<std::string> variables;
    return variables;
}

void Set(const std::string& name, const std::string& value) {
    if (name.find('=') != std::string::npos) {
        return; // not a variable name: setenv refuses it too
    }
    std::string& variable = SetVariables().emplace_back(name + "=" + value.substr(0, value.find('\0')));
    putenv(variable.data());
}

void UnsetAll() {
    for (const std::string& variable : SetVariables()) {
        unsetenv(variable.substr(0, variable.find('=')).c_str());
    }
    SetVariables().clear();
}

// The model: a variable's value without the blanks at its ends; empty when not set.
std::string Value(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    std::string text = value != nullptr ? value : "";
    const char* blanks = " \t\n\v\f\r";
    const std::size_t first = text.find_first_not_of(blanks);
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

template <class Number, class Convert> std::optional<Number> Parse(const std::string& text, Convert convert) {
    try {
        return convert(text);
    } catch (const std::logic_error&) {
        return std::nullopt;
    }
}

std::optional<ProfilerSettings> ModelTarget(const std::string& prefix, const std::string& name) {
    const std::string stem = prefix + name;
    const std::string enable = Value(stem + "_ENABLE_PROFILING");
    if (!enable.empty()) {
        const auto enabled = Parse<int>(enable, [](const std::string& text) { return std::stoi(text); });
        if (!enabled || *enabled == 0) {
            return std::nullopt;
        }
    }
    std::string path = Value(stem + "_PROFILER_PATH_64");
    if (path.empty()) {
        path = Value(stem + "_PROFILER_PATH");
    }
    const std::string clsid = Value(stem + "_PROFILER");
    const std::string priorityText = Value(stem + "_PRIORITY");
    if (path.empty() || clsid.empty() || priorityText.empty()) {
        return std::nullopt;
    }
    const auto priority =
        Parse<double>(priorityText, [](const std::string& text) { return std::stod(text); });
    const std::string revertText = Value(stem + "_REVERT_REJIT_CALL_ORDER");
    std::optional<int> revert = 0;
    if (!revertText.empty()) {
        revert = Parse<int>(revertText, [](const std::string& text) { return std::stoi(text); });
    }
    if (!priority || !revert) {
        return std::nullopt;
    }
    using profilermultiplexer::Util;
    return ProfilerSettings(Util::ToWString(name), Util::ToWString(path), Util::ToWString(clsid), *priority,
                            *revert != 0);
}

// A class id in the braced form with its digits upper-cased, or the text itself when it is not in that form:
// two targets have the same class id when their keys are equal.
std::string ClassIdKey(std::string text) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') {
        return text;
    }
    std::string key = text;
    for (std::size_t index = 1; index < 37; ++index) {
        const bool dash = index == 9 || index == 14 || index == 19 || index == 24;
        const auto unit = static_cast<unsigned char>(text[index]);
        if (dash ? unit != '-' : std::isxdigit(unit) == 0) {
            return text;
        }
        key[index] = static_cast<char>(std::toupper(unit));
    }
    return key;
}

// In priority order, a target with the library and class id of an earlier one is dropped.
std::vector<ProfilerSettings> WithoutRepeats(std::vector<ProfilerSettings> targets) {
    using profilermultiplexer::Util;
    std::vector<ProfilerSettings> kept;
    for (ProfilerSettings& target : targets) {
        const std::string key = ClassIdKey(Util::ToString(target.clsid));
        const bool repeated = std::any_of(kept.begin(), kept.end(), [&](const ProfilerSettings& earlier) {
            return earlier.path == target.path && ClassIdKey(Util::ToString(earlier.clsid)) == key;
        });
        if (!repeated) {
            kept.push_back(std::move(target));
        }
    }
    return kept;
}

std::vector<ProfilerSettings> Model(const std::string& prefix) {
    std::vector<ProfilerSettings> targets;
    for (const std::string& name : Split(Value(prefix + "PROFILERS"), ';')) {
        if (auto target = ModelTarget(prefix, name)) {
            targets.push_back(std::move(*target));
        }
    }
    std::stable_sort(targets.begin(), targets.end(),
                     [](const ProfilerSettings& a, const ProfilerSettings& b) {
                         return std::isnan(b.priority) ? !std::isnan(a.priority) : a.priority < b.priority;
                     });
    return WithoutRepeats(std::move(targets));
}

bool Same(const ProfilerSettings& a, const ProfilerSettings& b) {
    const bool samePriority = a.priority == b.priority || (std::isnan(a.priority) && std::isnan(b.priority));
    return a.name == b.name && a.path == b.path && a.clsid == b.clsid && samePriority &&
           a.revertRejitCallOrder == b.revertRejitCallOrder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    UnsetAll();

    const std::vector<std::string> lines =
        Split(std::string(reinterpret_cast<const char*>(data), size), '\n');
    if (lines.empty() || lines[0].empty()) {
        return 0;
    }
    const bool isCoreClr = (lines[0][0] & 1) != 0;
    const std::string prefix = isCoreClr ? "CORECLR_" : "COR_";
    const std::string list = lines[0].substr(1);
    Set(prefix + "PROFILERS", list);
    const std::vector<std::string> names = Split(list, ';');
    bool wellFormed = IsWellFormedUtf8(list);
    for (std::size_t index = 1; index < lines.size(); ++index) {
        const std::string& line = lines[index];
        if (line.size() < 2 || names.empty()) {
            continue;
        }
        const std::string value = line.substr(2);
        Set(prefix + names[static_cast<unsigned char>(line[1]) % names.size()] +
                Suffixes[static_cast<unsigned char>(line[0]) % std::size(Suffixes)],
            value);
        wellFormed = wellFormed && IsWellFormedUtf8(value.substr(0, value.find('\0')));
    }

    std::vector<ProfilerSettings> result;
    try {
        result = TargetProfilerFactory::BuildProfilerSet(isCoreClr);
    } catch (const std::range_error&) {
        if (wellFormed) {
            Finding("threw on well-formed UTF-8");
        }
        return 0;
    }
    if (!wellFormed) {
        return 0;
    }
    const std::vector<ProfilerSettings> expected = Model(prefix);
    if (!std::equal(result.begin(), result.end(), expected.begin(), expected.end(), Same)) {
        Finding("the targets differ from the documented rules");
    }
    return 0;
}
