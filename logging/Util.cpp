#include "logging/Util.h"

#include <cctype>
#include <codecvt>
#include <cstdlib>
#include <locale>
#include <sstream>

namespace profilermultiplexer {

namespace {

using Utf16Converter = std::wstring_convert<std::codecvt_utf8_utf16<char16_t>, char16_t>;

bool IsSpace(char16_t unit) {
    return unit <= 0xFF && std::isspace(static_cast<unsigned char>(unit)) != 0;
}

template <typename Text> Text UpToFirstZero(Text const& text) {
    return text.substr(0, text.find(typename Text::value_type{0}));
}

} // namespace

std::string Util::utf16_to_utf8(std::u16string const& text) {
    return Utf16Converter().to_bytes(text);
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
    return utf16_to_utf8(UpToFirstZero(value));
}

template <> std::string Util::ToString<int>(int const& value) {
    std::stringstream stream;
    stream << value;
    return stream.str();
}

template <> std::u16string Util::ToWString<std::string>(std::string const& value) {
    return UpToFirstZero(utf8_to_utf16(value));
}

} // namespace profilermultiplexer
