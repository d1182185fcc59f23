#include "common/ILRewriter.h"

#include <cstring>

namespace pmbench {

namespace {

constexpr BYTE TinyFormat = 0x2;
constexpr BYTE FatFormat = 0x3;
constexpr uint16_t MoreSections = 0x8;
constexpr BYTE Nop = 0x00;

uint32_t ReadUInt32(LPCBYTE at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

void WriteUInt32(BYTE* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<BYTE>(value >> (8 * i));
    }
}

} // namespace

long ILRewriter::CodeSizeIfRewritable(LPCBYTE method, ULONG size) {
    if (method == nullptr || size == 0) {
        return -1;
    }
    if ((method[0] & 0x3) == TinyFormat) {
        const ULONG code = method[0] >> 2;
        return 1 + code <= size ? static_cast<long>(code) : -1;
    }
    if (size < FatHeaderSize || (method[0] & 0x7) != FatFormat) {
        return -1;
    }
    const uint16_t flags = static_cast<uint16_t>(method[0] | method[1] << 8);
    const ULONG header = (flags >> 12) * 4u;
    const ULONG code = ReadUInt32(method + 4);
    if ((flags & MoreSections) != 0 || header != FatHeaderSize || header + code > size) {
        return -1;
    }
    return static_cast<long>(code);
}

ULONG ILRewriter::RewrittenSize(LPCBYTE method, ULONG size) {
    const long code = CodeSizeIfRewritable(method, size);
    if (code < 0) {
        return size;
    }
    const ULONG newCode = static_cast<ULONG>(code) + 1;
    const bool tiny = (method[0] & 0x3) == TinyFormat && newCode <= MaxTinyCodeSize;
    return (tiny ? 1 : FatHeaderSize) + newCode;
}

bool ILRewriter::Rewrite(LPCBYTE method, ULONG size, BYTE* out) {
    const long code = CodeSizeIfRewritable(method, size);
    if (code < 0) {
        std::memcpy(out, method, size);
        return false;
    }
    const ULONG newCode = static_cast<ULONG>(code) + 1;
    LPCBYTE oldCode = method + ((method[0] & 0x3) == TinyFormat ? 1 : FatHeaderSize);
    BYTE* body = nullptr;
    if ((method[0] & 0x3) == TinyFormat && newCode <= MaxTinyCodeSize) {
        out[0] = static_cast<BYTE>(newCode << 2 | TinyFormat);
        body = out + 1;
    } else if ((method[0] & 0x3) == TinyFormat) {
        // Fat header of three dwords, max stack 8 as a tiny method has, no locals.
        std::memset(out, 0, FatHeaderSize);
        out[0] = FatFormat;
        out[1] = 0x30;
        out[2] = 8;
        WriteUInt32(out + 4, newCode);
        body = out + FatHeaderSize;
    } else {
        std::memcpy(out, method, FatHeaderSize);
        WriteUInt32(out + 4, newCode);
        body = out + FatHeaderSize;
    }
    body[0] = Nop;
    std::memcpy(body + 1, oldCode, static_cast<std::size_t>(code));
    return true;
}

} // namespace pmbench
