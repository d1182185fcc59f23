#include "logging/Util.h"

#include <cctype>
#include <codecvt>
#include <cstddef>
#include <cstdlib>
#include <locale>
#include <stdexcept>
#include <string_view>

namespace profilermultiplexer {

namespace {

using Utf16Converter = std::wstring_convert<std::codecvt_utf8_utf16<char16_t>, char16_t>;

bool IsSpace(char16_t unit) {
    return unit <= 0xFF && std::isspace(static_cast<unsigned char>(unit)) != 0;
}

template <typename Text> Text UpToFirstZero(Text const& text) {
    return text.substr(0, text.find(typename Text::value_type{0}));
}

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The number of UTF-8 bytes of [first, last), with last moved before a high surrogate that ends the
// text. Throws as the standard converter does on a broken surrogate pair.
std::size_t Utf8Length(char16_t const* first, char16_t const*& last) {
    std::size_t length = 0;
    for (char16_t const* unit = first; unit != last; ++unit) {
        if (*unit < 0x80) {
            length += 1;
        } else if (*unit < 0x800) {
            length += 2;
        } else if (IsHighSurrogate(*unit)) {
            if (unit + 1 == last) {
                last = unit;
                break;
            }
            if (!IsLowSurrogate(*++unit)) {
                throw std::range_error("wstring_convert::to_bytes");
            }
            length += 4;
        } else if (IsLowSurrogate(*unit)) {
            throw std::range_error("wstring_convert::to_bytes");
        } else {
            length += 3;
        }
    }
    return length;
}

// The UTF-8 form of [first, last), with the results of std::codecvt_utf8_utf16 (no byte-order mark, a
// high surrogate at the end dropped), written in one pass into a string of the exact size.
std::string Utf16ToUtf8(char16_t const* first, char16_t const* last) {
    char16_t allUnits = 0;
    for (char16_t const* unit = first; unit != last; ++unit) {
        allUnits |= *unit;
    }
    if (allUnits < 0x80) {
        return std::string(first, last);
    }
    std::string bytes(Utf8Length(first, last), '\0');
    auto* out = reinterpret_cast<unsigned char*>(bytes.data());
    for (char16_t const* unit = first; unit != last; ++unit) {
        char32_t code = *unit;
        if (code < 0x80) {
            *out++ = static_cast<unsigned char>(code);
        } else if (code < 0x800) {
            *out++ = static_cast<unsigned char>(0xC0 | (code >> 6));
            *out++ = static_cast<unsigned char>(0x80 | (code & 0x3F));
        } else if (IsHighSurrogate(*unit)) {
            code = 0x10000 + ((code - 0xD800) << 10) + (*++unit - 0xDC00);
            *out++ = static_cast<unsigned char>(0xF0 | (code >> 18));
            *out++ = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F));
            *out++ = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
            *out++ = static_cast<unsigned char>(0x80 | (code & 0x3F));
        } else {
            *out++ = static_cast<unsigned char>(0xE0 | (code >> 12));
            *out++ = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
            *out++ = static_cast<unsigned char>(0x80 | (code & 0x3F));
        }
    }
    return bytes;
}

} // namespace

std::string Util::utf16_to_utf8(std::u16string const& text) {
    return Utf16ToUtf8(text.data(), text.data() + text.size());
}

std::u16string Util::utf8_to_utf16(std::string const& text) {
    return Utf16Converter().from_bytes(text);
}

std::u16string Util::Trim(std::u16string const& text) {
    auto first = text.begin();
    auto last = text.end();
    while (first != last && IsSpace(*first)) {
        ++first;
    }
    while (last != first && IsSpace(*(last - 1))) {
        --last;
    }
    return std::u16string(first, last);
}

std::u16string Util::GetEnvironmentValue(std::u16string const& name) {
    char const* value = std::getenv(ToString(name).c_str());
    if (value == nullptr) {
        return {};
    }
    return Trim(ToWString(std::string(value)));
}

std::string Util::ToString(char16_t const* text) {
    return ToString(std::u16string(text));
}

template <> std::string Util::ToString<std::u16string>(std::u16string const& value) {
    const auto text = UpToFirstZero(std::u16string_view(value));
    return Utf16ToUtf8(text.data(), text.data() + text.size());
}

template <> std::string Util::ToString<int>(int const& value) {
    return std::to_string(value);
}

template <> std::u16string Util::ToWString<std::string>(std::string const& value) {
    return UpToFirstZero(utf8_to_utf16(value));
}

} // namespace profilermultiplexer
