// Util's conversions and trimming over any text: the input's bytes as UTF-8, and taken in pairs as UTF-16
// units. Well-formed text converts there and back unchanged; a sequence cut short at the end is dropped;
// broken UTF-16 throws std::range_error and nothing else; Trim removes white space at the ends only.
#include "FuzzText.h"
#include "logging/Util.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

using profilermultiplexer::Util;

namespace {

[[noreturn]] void Finding(const char* what) {
    std::fprintf(stderr, "Util: %s\n", what);
    std::abort();
}

// The result of a conversion, or nothing when it threw std::range_error; any other exception escapes.
template <class Convert> auto Converted(Convert convert) -> std::optional<decltype(convert())> {
    try {
        return convert();
    } catch (const std::range_error&) {
        return std::nullopt;
    }
}

void CheckUtf8(const std::string& bytes) {
    bool cutShort = false;
    const std::size_t wellFormed = WellFormedUtf8(bytes, cutShort);
    const auto units = Converted([&] { return Util::utf8_to_utf16(bytes); });
    if (units) {
        Converted([&] { return Util::utf16_to_utf8(*units); });
    }
    if (wellFormed == bytes.size() || cutShort) {
        if (!units) {
            Finding("refused well-formed UTF-8");
        }
        if (Util::utf16_to_utf8(*units) != bytes.substr(0, wellFormed)) {
            Finding("UTF-8 did not convert there and back unchanged");
        }
    }
    const auto wide = Converted([&] { return Util::ToWString(bytes); });
    if (wide.has_value() != units.has_value() || (wide && *wide != units->substr(0, units->find(u'\0')))) {
        Finding("ToWString differs from utf8_to_utf16 up to the first 0");
    }
}

bool IsHigh(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLow(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void CheckUtf16(const std::u16string& units) {
    bool broken = false;
    bool highAtEnd = false;
    for (std::size_t index = 0; index < units.size(); ++index) {
        if (IsHigh(units[index])) {
            if (index + 1 == units.size()) {
                highAtEnd = true;
            } else if (IsLow(units[index + 1])) {
                ++index;
            } else {
                broken = true;
            }
        } else if (IsLow(units[index])) {
            broken = true;
        }
    }
    const auto bytes = Converted([&] { return Util::utf16_to_utf8(units); });
    if (bytes.has_value() == broken) {
        Finding(broken ? "converted broken UTF-16" : "refused well-formed UTF-16");
    }
    if (bytes && Util::utf8_to_utf16(*bytes) != units.substr(0, units.size() - (highAtEnd ? 1 : 0))) {
        Finding("UTF-16 did not convert there and back unchanged");
    }
    const auto narrow = Converted([&] { return Util::ToString(units); });
    const auto prefix = Converted([&] { return Util::utf16_to_utf8(units.substr(0, units.find(u'\0'))); });
    if (narrow != prefix) {
        Finding("ToString differs from utf16_to_utf8 up to the first 0");
    }
}

bool IsSpace(char16_t unit) {
    return unit <= 0xFF && std::isspace(unit) != 0;
}

void CheckTrim(const std::u16string& units) {
    const std::u16string trimmed = Util::Trim(units);
    std::size_t first = 0;
    while (first < units.size() && IsSpace(units[first])) {
        ++first;
    }
    std::size_t last = units.size();
    while (last > first && IsSpace(units[last - 1])) {
        --last;
    }
    if (trimmed != units.substr(first, last - first)) {
        Finding("Trim removed other units than the white space at the ends");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * 2);
    CheckUtf8(bytes);
    CheckUtf16(units);
    CheckTrim(units);
    CheckTrim(std::u16string(bytes.begin(), bytes.end()));
    return 0;
}
