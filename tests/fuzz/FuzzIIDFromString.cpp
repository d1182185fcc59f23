// IIDFromString over any UTF-16 text (the input's bytes taken in pairs as units, NUL-terminated): it
// accepts exactly the braced form of 38 units and then gives the GUID the text spells.
#include "hosting/FakeComUtil.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int HexValue(char16_t unit) {
    if (unit >= u'0' && unit <= u'9') {
        return unit - u'0';
    }
    if ((unit | 0x20) >= u'a' && (unit | 0x20) <= u'f') {
        return (unit | 0x20) - u'a' + 10;
    }
    return -1;
}

// The reference reading: {8-4-4-4-12} hexadecimal digits, nothing before or after.
bool ReadBracedGuid(const std::u16string& text, _GUID& guid) {
    if (text.size() != 38 || text[0] != u'{' || text[37] != u'}') {
        return false;
    }
    uint8_t bytes[16] = {};
    std::size_t byte = 0;
    for (std::size_t position = 1; position < 37;) {
        if (position == 9 || position == 14 || position == 19 || position == 24) {
            if (text[position++] != u'-') {
                return false;
            }
            continue;
        }
        const int high = HexValue(text[position]);
        const int low = HexValue(text[position + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes[byte++] = static_cast<uint8_t>(high << 4 | low);
        position += 2;
    }
    guid.Data1 = uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
    guid.Data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
    guid.Data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
    std::memcpy(guid.Data4, bytes + 8, 8);
    return true;
}

[[noreturn]] void Finding(const char* what) {
    std::fprintf(stderr, "IIDFromString: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::u16string text(size / 2, u'\0');
    std::memcpy(text.data(), data, text.size() * 2);
    const std::u16string terminated = text.substr(0, text.find(u'\0'));

    _GUID parsed{};
    const HRESULT hr = IIDFromString(text.c_str(), &parsed);
    _GUID expected{};
    const bool valid = ReadBracedGuid(terminated, expected);
    if (hr != (valid ? S_OK : CO_E_CLASSSTRING)) {
        Finding("accepted or refused the wrong text");
    }
    if (valid && std::memcmp(&parsed, &expected, sizeof(parsed)) != 0) {
        Finding("read another GUID than the text spells");
    }
    return 0;
}
