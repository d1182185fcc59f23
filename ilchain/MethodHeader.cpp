#include "ilchain/MethodHeader.h"

#include <algorithm>
#include <cstring>

namespace profilermultiplexer {

namespace {

constexpr unsigned TinyMaxStack = 8;
constexpr unsigned TinyCodeSizeLimit = 64;
constexpr unsigned FatHeaderWords = 3;
constexpr unsigned SectionHeaderSize = 4;
constexpr unsigned SmallClauseSize = 12;
constexpr unsigned FatClauseSize = sizeof(FatEHClause);
constexpr uint64_t SmallSectionMaxSize = 254;
constexpr uint64_t FatSectionMaxSize = 0xFFFFFF;
constexpr ULONG NoTypeOffset = 0xFFFFFFFF;

uint16_t Read16(const BYTE* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Read24(const BYTE* p) {
    return p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16);
}
uint32_t Read32(const BYTE* p) {
    return Read24(p) | (static_cast<uint32_t>(p[3]) << 24);
}

void WriteLittleEndian(BYTE* p, uint32_t value, unsigned bytes) {
    for (unsigned i = 0; i < bytes; ++i) {
        p[i] = static_cast<BYTE>(value >> (8 * i));
    }
}

const BYTE* AlignUp4(const BYTE* p) {
    const auto address = reinterpret_cast<uintptr_t>(p);
    return p + ((4 - (address & 3)) & 3);
}

bool IsFatSection(const BYTE* section) {
    return (section[0] & CorILMethod_Sect_FatFormat) != 0;
}
bool IsEHSection(const BYTE* section) {
    return (section[0] & CorILMethod_Sect_KindMask) == CorILMethod_Sect_EHTable;
}

// An exception section counts its whole clauses, whether or not its DataSize includes the section
// header. Any other section is at least its own header long, so a walk always moves on.
uint32_t SectionSize(const BYTE* section) {
    const bool fat = IsFatSection(section);
    const uint32_t dataSize = fat ? Read24(section + 1) : section[1];
    if (IsEHSection(section)) {
        const uint32_t clauseSize = fat ? FatClauseSize : SmallClauseSize;
        return dataSize / clauseSize * clauseSize + SectionHeaderSize;
    }
    return std::max(dataSize, uint32_t{SectionHeaderSize});
}

const BYTE* NextSection(const BYTE* section) {
    if ((section[0] & CorILMethod_Sect_MoreSects) == 0) {
        return nullptr;
    }
    return AlignUp4(section + SectionSize(section));
}

const BYTE* EndOfSections(const BYTE* section) {
    for (const BYTE* next = NextSection(section); next != nullptr; next = NextSection(section)) {
        section = next;
    }
    return section + SectionSize(section);
}

void DecodeFatSections(MethodHeaderDecoder& decoder) {
    const FatMethodHeader& header = decoder.Header;
    if (header.Size() < FatHeaderWords || (header.Flags() & CorILMethod_MoreSects) == 0) {
        return;
    }
    const BYTE* first = AlignUp4(decoder.Code + header.CodeSize);
    if (IsEHSection(first)) {
        decoder.EH = first;
        decoder.Sect = NextSection(first);
    } else {
        decoder.Sect = first;
    }
}

bool FitsSmallClause(const FatEHClause& clause) {
    return clause.TryOffset <= 0xFFFF && clause.TryLength <= 0xFF && clause.HandlerOffset <= 0xFFFF &&
           clause.HandlerLength <= 0xFF;
}

bool FitsSmallSection(unsigned count, const FatEHClause* clauses) {
    return uint64_t{SmallClauseSize} * count + SectionHeaderSize <= SmallSectionMaxSize &&
           std::all_of(clauses, clauses + count, FitsSmallClause);
}

void WriteSmallClause(BYTE* out, const FatEHClause& clause) {
    WriteLittleEndian(out, clause.Flags, 2);
    WriteLittleEndian(out + 2, clause.TryOffset, 2);
    out[4] = static_cast<BYTE>(clause.TryLength);
    WriteLittleEndian(out + 5, clause.HandlerOffset, 2);
    out[7] = static_cast<BYTE>(clause.HandlerLength);
    WriteLittleEndian(out + 8, clause.ClassToken, 4);
}

void SetTypeOffsets(unsigned count, const FatEHClause* clauses, unsigned clauseSize, ULONG* typeOffsets) {
    if (typeOffsets == nullptr) {
        return;
    }
    std::fill_n(typeOffsets, count, NoTypeOffset);
    for (unsigned i = 0; i < count; ++i) {
        if (clauses[i].Flags == COR_ILEXCEPTION_CLAUSE_EXCEPTION) {
            // The class token is the last field of a clause.
            typeOffsets[i] = SectionHeaderSize + clauseSize * i + clauseSize - 4;
        }
    }
}

} // namespace

METHOD_HEADER_API void DecoderInit(void* decoder, const void* header) {
    auto& result = *static_cast<MethodHeaderDecoder*>(decoder);
    const auto* bytes = static_cast<const BYTE*>(header);
    std::memset(&result, 0, sizeof(result));
    if ((bytes[0] & TinyFormatMask) == CorILMethod_TinyFormat) {
        result.Code = bytes + 1;
        result.Header.CodeSize = bytes[0] >> 2;
        result.Header.SetFlags(CorILMethod_TinyFormat);
        result.Header.MaxStack = TinyMaxStack;
    } else if ((bytes[0] & FatFormatMask) == CorILMethod_FatFormat) {
        std::memcpy(&result.Header, bytes, sizeof(FatMethodHeader));
        result.Code = bytes + 4 * result.Header.Size();
        DecodeFatSections(result);
    }
}

METHOD_HEADER_API ULONG DecoderGetOnDiskSize(void* decoder, const void* header) {
    const auto& decoded = *static_cast<const MethodHeaderDecoder*>(decoder);
    if (decoded.Code == nullptr) {
        return 0;
    }
    const BYTE* end = decoded.Code + decoded.Header.CodeSize;
    if (decoded.EH != nullptr && NextSection(decoded.EH) == nullptr) {
        end = decoded.EH + SectionSize(decoded.EH);
    } else if (decoded.Sect != nullptr) {
        end = EndOfSections(decoded.Sect);
    }
    return static_cast<ULONG>(end - static_cast<const BYTE*>(header));
}

METHOD_HEADER_API unsigned IlmethodSize(const FatMethodHeader* header, BOOL moreSections) {
    const bool tiny = header->MaxStack <= TinyMaxStack && header->Flags() <= FatFormatMask &&
                      header->LocalVarSigTok == 0 && !moreSections && header->CodeSize < TinyCodeSizeLimit;
    return tiny ? 1 : sizeof(FatMethodHeader);
}

METHOD_HEADER_API unsigned IlmethodEmit(unsigned size, const FatMethodHeader* header, BOOL moreSections,
                                        BYTE* out) {
    if (size == 1) {
        out[0] = static_cast<BYTE>((header->CodeSize << 2) | CorILMethod_TinyFormat);
        return size;
    }
    FatMethodHeader fat = *header;
    fat.SetFlags(fat.Flags() | CorILMethod_FatFormat | (moreSections ? CorILMethod_MoreSects : 0));
    fat.SetSize(FatHeaderWords);
    std::memcpy(out, &fat, sizeof(fat));
    return size;
}

METHOD_HEADER_API FatEHClause* SectEH_EHClause(void* section, unsigned index, FatEHClause* buffer) {
    auto* bytes = static_cast<BYTE*>(section);
    if (IsFatSection(bytes)) {
        return reinterpret_cast<FatEHClause*>(bytes + SectionHeaderSize + FatClauseSize * index);
    }
    const BYTE* clause = bytes + SectionHeaderSize + SmallClauseSize * index;
    buffer->Flags = Read16(clause);
    buffer->TryOffset = Read16(clause + 2);
    buffer->TryLength = clause[4];
    buffer->HandlerOffset = Read16(clause + 5);
    buffer->HandlerLength = clause[7];
    buffer->ClassToken = Read32(clause + 8);
    return buffer;
}

METHOD_HEADER_API unsigned SectEH_SizeWithCode(unsigned count, unsigned /*codeSize*/) {
    return SectEH_SizeWorst(count);
}

METHOD_HEADER_API unsigned SectEH_SizeWorst(unsigned count) {
    return count == 0 ? 0 : FatClauseSize * count + SectionHeaderSize;
}

METHOD_HEADER_API unsigned SectEH_SizeExact(unsigned count, const FatEHClause* clauses) {
    if (count == 0) {
        return 0;
    }
    return FitsSmallSection(count, clauses) ? SmallClauseSize * count + SectionHeaderSize
                                            : FatClauseSize * count + SectionHeaderSize;
}

METHOD_HEADER_API unsigned SectEH_Emit(unsigned size, unsigned count, const FatEHClause* clauses,
                                       BOOL moreSections, BYTE* out, ULONG* typeOffsets) {
    if (size == 0 || count == 0) {
        return 0;
    }
    const bool small = FitsSmallSection(count, clauses);
    const unsigned clauseSize = small ? SmallClauseSize : FatClauseSize;
    const uint64_t needed = uint64_t{clauseSize} * count + SectionHeaderSize;
    // Never write past the caller's buffer, nor a section whose length the format cannot hold.
    if (needed > size || needed > FatSectionMaxSize) {
        return 0;
    }
    const unsigned more = moreSections ? CorILMethod_Sect_MoreSects : 0;
    if (small) {
        out[0] = static_cast<BYTE>(CorILMethod_Sect_EHTable | more);
        WriteLittleEndian(out + 1, static_cast<uint32_t>(needed), 3); // DataSize byte, two reserved bytes
        for (unsigned i = 0; i < count; ++i) {
            WriteSmallClause(out + SectionHeaderSize + SmallClauseSize * i, clauses[i]);
        }
    } else {
        out[0] = static_cast<BYTE>(CorILMethod_Sect_EHTable | CorILMethod_Sect_FatFormat | more);
        WriteLittleEndian(out + 1, static_cast<uint32_t>(needed), 3);
        std::memcpy(out + SectionHeaderSize, clauses, FatClauseSize * count);
    }
    SetTypeOffsets(count, clauses, clauseSize, typeOffsets);
    return size;
}

ULONG MethodBodySize(const BYTE* ilMethod) {
    if (ilMethod == nullptr) {
        return 0;
    }
    MethodHeaderDecoder decoder;
    DecoderInit(&decoder, ilMethod);
    return DecoderGetOnDiskSize(&decoder, ilMethod);
}

ULONG MethodBodySizeWithin(const BYTE* ilMethod, ULONG limit) {
    if (ilMethod == nullptr || limit == 0) {
        return limit;
    }
    if ((ilMethod[0] & TinyFormatMask) == CorILMethod_TinyFormat) {
        return std::min<ULONG>(1 + (ilMethod[0] >> 2), limit);
    }
    if ((ilMethod[0] & FatFormatMask) != CorILMethod_FatFormat || limit < sizeof(FatMethodHeader)) {
        return limit;
    }
    FatMethodHeader header;
    std::memcpy(&header, ilMethod, sizeof(header));
    uint64_t end = uint64_t{4} * header.Size() + header.CodeSize;
    bool more = header.Size() >= FatHeaderWords && (header.Flags() & CorILMethod_MoreSects) != 0;
    while (more) {
        end = (end + 3) & ~uint64_t{3};
        if (end + SectionHeaderSize > limit) {
            return limit;
        }
        const BYTE* section = ilMethod + end;
        more = (section[0] & CorILMethod_Sect_MoreSects) != 0;
        end += SectionSize(section);
    }
    return end <= limit ? static_cast<ULONG>(end) : limit;
}

} // namespace profilermultiplexer
