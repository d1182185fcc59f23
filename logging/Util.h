// Text conversions between UTF-16 (runtime, environment) and UTF-8 (log text, C library), trimming and
// environment lookups.
#pragma once

#include <string>

namespace profilermultiplexer {

class Util {
public:
    // Every unit is converted, 0 included. Throws std::range_error on a broken surrogate pair; a high
    // surrogate that ends the text is dropped.
    static std::string utf16_to_utf8(std::u16string const& text);

    // Throws std::range_error on an invalid byte or a code point above 0x10FFFF; a sequence cut short by
    // the end of the text is dropped. A byte-order mark is kept as 0xFEFF.
    static std::u16string utf8_to_utf16(std::string const& text);

    // Removes leading and trailing white space as the C library's isspace sees it (units up to 0xFF).
    static std::u16string Trim(std::u16string const& text);

    // The variable's trimmed value; empty when it is not set. Throws when the value is not UTF-8.
    static std::u16string GetEnvironmentValue(std::u16string const& name);

    // The text up to its terminating 0 unit, as UTF-8.
    static std::string ToString(char16_t const* text);

    template <typename T> static std::string ToString(T const& value);

    template <typename T> static std::u16string ToWString(T const& value);
};

// The text up to its first 0 unit, as UTF-8.
template <> std::string Util::ToString<std::u16string>(std::u16string const& value);

// Signed decimal.
template <> std::string Util::ToString<int>(int const& value);

// The UTF-16 form up to its first 0 unit.
template <> std::u16string Util::ToWString<std::string>(std::string const& value);

} // namespace profilermultiplexer
