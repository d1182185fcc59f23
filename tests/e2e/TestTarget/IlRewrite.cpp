#include "IlRewrite.h"

#include <algorithm>
#include <cstddef>
#include <sstream>

namespace e2e {
namespace {

constexpr BYTE Nop = 0x00;
constexpr BYTE Ret = 0x2A;
constexpr BYTE LdcI4 = 0x20;
constexpr BYTE Add = 0x58;
constexpr BYTE Mul = 0x5A;
constexpr uint16_t FatFormat = 0x3;
constexpr uint16_t MoreSects = 0x8;
constexpr uint16_t FatFlagsMask = 0xFFF;
constexpr BYTE SectionFatFormat = 0x40;
constexpr BYTE SectionMoreSects = 0x80;
constexpr BYTE SectionEHTable = 0x01;
constexpr size_t FatHeaderSize = 12;
constexpr size_t TinyCodeLimit = 64;

// try { leave.s +3 } catch (catchType) { pop; leave.s +0 } : the body goes on at offset 5.
const std::vector<BYTE> GuardCode = {0xDE, 0x03, 0x26, 0xDE, 0x00};
constexpr uint16_t GuardTryLength = 2;
constexpr uint16_t GuardHandlerOffset = 2;
constexpr uint16_t GuardHandlerLength = 3;

uint32_t Read(const BYTE* bytes, size_t count) {
    uint32_t value = 0;
    for (size_t i = count; i-- > 0;) {
        value = value << 8 | bytes[i];
    }
    return value;
}

void Append(std::vector<BYTE>& out, uint32_t value, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        out.push_back(static_cast<BYTE>(value >> (8 * i)));
    }
}

size_t AlignUp(size_t value) {
    return (value + 3) & ~size_t{3};
}

// The parts of an IL method that a rewrite keeps.
struct MethodParts {
    bool tiny = true;
    uint16_t fatFlags = 0;
    uint16_t maxStack = 8;
    uint32_t localSignature = 0;
    std::vector<BYTE> code;
    std::vector<BYTE> sections; // from the first section's aligned start to the last one's end
};

bool Split(const BYTE* method, ULONG size, MethodParts& parts, std::string& error) {
    if (size == 0) {
        error = "empty method";
        return false;
    }
    size_t headerSize = 1;
    size_t codeSize = 0;
    if ((method[0] & 0x3) == 0x2) {
        codeSize = method[0] >> 2;
    } else if ((method[0] & 0x3) == FatFormat && size >= FatHeaderSize) {
        const uint16_t word = static_cast<uint16_t>(Read(method, 2));
        parts.tiny = false;
        parts.fatFlags = word & FatFlagsMask;
        headerSize = size_t{4} * (word >> 12);
        parts.maxStack = static_cast<uint16_t>(Read(method + 2, 2));
        codeSize = Read(method + 4, 4);
        parts.localSignature = Read(method + 8, 4);
    } else {
        error = "unknown method header " + HexBytes(method, 1);
        return false;
    }
    if (headerSize < 1 || headerSize + codeSize > size) {
        error = "method header does not fit the method";
        return false;
    }
    parts.code.assign(method + headerSize, method + headerSize + codeSize);
    if (parts.fatFlags & MoreSects) {
        const size_t start = AlignUp(headerSize + codeSize);
        size_t end = start;
        for (bool more = true; more;) {
            if (end + 4 > size) {
                error = "extra section does not fit the method";
                return false;
            }
            const BYTE kind = method[end];
            const size_t length = kind & SectionFatFormat ? Read(method + end + 1, 3) : method[end + 1];
            more = (kind & SectionMoreSects) != 0;
            end = more ? AlignUp(end + length) : end + length;
            if (length < 4 || end > size) {
                error = "extra section does not fit the method";
                return false;
            }
        }
        parts.sections.assign(method + start, method + end);
    }
    return true;
}

std::vector<BYTE> Join(const MethodParts& parts) {
    std::vector<BYTE> out;
    if (parts.tiny && parts.code.size() < TinyCodeLimit && parts.sections.empty()) {
        out.push_back(static_cast<BYTE>(parts.code.size() << 2 | 0x2));
        out.insert(out.end(), parts.code.begin(), parts.code.end());
        return out;
    }
    const uint16_t flags = parts.fatFlags | FatFormat | (parts.sections.empty() ? 0 : MoreSects);
    Append(out, (FatHeaderSize / 4) << 12 | (flags & FatFlagsMask), 2);
    Append(out, parts.maxStack, 2);
    Append(out, static_cast<uint32_t>(parts.code.size()), 4);
    Append(out, parts.localSignature, 4);
    out.insert(out.end(), parts.code.begin(), parts.code.end());
    if (!parts.sections.empty()) {
        out.resize(AlignUp(out.size()), 0);
        out.insert(out.end(), parts.sections.begin(), parts.sections.end());
    }
    return out;
}

// A small exception section with one typed catch clause around the guard's try.
std::vector<BYTE> GuardSection(mdToken catchType) {
    std::vector<BYTE> section = {SectionEHTable, 4 + 12, 0, 0};
    Append(section, 0, 2); // a typed catch
    Append(section, 0, 2);
    Append(section, GuardTryLength, 1);
    Append(section, GuardHandlerOffset, 2);
    Append(section, GuardHandlerLength, 1);
    Append(section, catchType, 4);
    return section;
}

} // namespace

IlRewrite IlRewrite::Parse(const std::string& text) {
    IlRewrite rewrite;
    std::istringstream words(text);
    std::string word;
    if (!(words >> word)) {
        return rewrite;
    }
    if (word == "guard") {
        rewrite._guard = true;
        words >> word;
    }
    if (word == "read" && !rewrite._guard) {
        rewrite._operation = Operation::Read;
    } else if ((word == "add" || word == "mul") && words >> rewrite._operand) {
        rewrite._operation = word == "add" ? Operation::Add : Operation::Multiply;
    } else {
        rewrite._valid = false;
    }
    if (words >> word) {
        rewrite._valid = false;
    }
    return rewrite;
}

std::vector<BYTE> IlRewrite::Apply(const BYTE* method, ULONG size, mdToken catchType, int nops,
                                   std::vector<COR_IL_MAP>& map, std::string& error) const {
    MethodParts parts;
    if (!writes() || !Split(method, size, parts, error)) {
        return {};
    }
    if (parts.code.empty() || parts.code.back() != Ret) {
        error = "the code does not end with ret";
        return {};
    }
    const size_t codeSize = parts.code.size();
    if ((_guard || nops > 0) && !parts.sections.empty()) {
        error = "no guard or nops in front of a method with extra sections";
        return {};
    }
    std::vector<BYTE> insert = {LdcI4};
    Append(insert, static_cast<uint32_t>(_operand), 4);
    insert.push_back(_operation == Operation::Add ? Add : Mul);
    parts.code.insert(parts.code.end() - 1, insert.begin(), insert.end());
    // The return value and the constant are on the stack at once.
    parts.maxStack = std::max<uint16_t>(parts.maxStack, 2);
    if (_guard) {
        parts.code.insert(parts.code.begin(), GuardCode.begin(), GuardCode.end());
        parts.sections = GuardSection(catchType);
        parts.tiny = false;
    }
    if (nops > 0) {
        const size_t front = static_cast<size_t>(nops) + (_guard ? GuardCode.size() : 0);
        for (size_t offset = 0; offset < codeSize; ++offset) {
            map.push_back({static_cast<ULONG32>(offset), static_cast<ULONG32>(offset + front), TRUE});
        }
        // Behind the guard, whose clause begins at 0.
        parts.code.insert(parts.code.begin() + static_cast<std::ptrdiff_t>(front) - nops,
                          static_cast<size_t>(nops), Nop);
    }
    return Join(parts);
}

std::string HexBytes(const BYTE* bytes, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xF];
    }
    return text;
}

} // namespace e2e
