// Text helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <string>

// The length of the well-formed UTF-8 at the start of text (shortest forms, no surrogates, at most
// U+10FFFF), and whether what follows it is the start of such a sequence cut short by the end.
inline std::size_t WellFormedUtf8(const std::string& text, bool& cutShort) {
    std::size_t position = 0;
    cutShort = false;
    while (position < text.size()) {
        const auto lead = static_cast<unsigned char>(text[position]);
        std::size_t length = lead < 0x80                    ? 1
                             : lead >= 0xC2 && lead <= 0xDF ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
        if (length == 0) {
            return position;
        }
        for (std::size_t index = 1; index < length; ++index) {
            if (position + index == text.size()) {
                cutShort = true;
                return position;
            }
            const auto next = static_cast<unsigned char>(text[position + index]);
            unsigned low = 0x80;
            unsigned high = 0xBF;
            if (index == 1) {
                low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
                high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
            }
            if (next < low || next > high) {
                return position;
            }
        }
        position += length;
    }
    return position;
}

// True when the whole text is well-formed UTF-8.
inline bool IsWellFormedUtf8(const std::string& text) {
    bool cutShort = false;
    return WellFormedUtf8(text, cutShort) == text.size();
}
