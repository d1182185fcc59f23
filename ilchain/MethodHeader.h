// Readers and writers for the on-disk layout of a method body (ECMA-335 II.25.4): tiny and fat
// method headers, the data sections after the code and the exception-handling sections.
#pragma once

#include "platform/ComBase.h"

#include <cstddef>
#include <cstdint>

// C linkage and default visibility for the helpers that the library publishes.
#define METHOD_HEADER_API extern "C" __attribute__((visibility("default")))

namespace profilermultiplexer {

// Method header flags.
constexpr unsigned CorILMethod_TinyFormat = 0x2;
constexpr unsigned CorILMethod_FatFormat = 0x3;
constexpr unsigned CorILMethod_MoreSects = 0x8;
// Bits of the first header byte that tell a tiny header and a fat one.
constexpr unsigned TinyFormatMask = 0x3;
constexpr unsigned FatFormatMask = 0x7;

// Data section kind flags; the kind proper is the low six bits.
constexpr unsigned CorILMethod_Sect_EHTable = 0x1;
constexpr unsigned CorILMethod_Sect_KindMask = 0x3F;
constexpr unsigned CorILMethod_Sect_FatFormat = 0x40;
constexpr unsigned CorILMethod_Sect_MoreSects = 0x80;

// Exception clause kind of a typed catch.
constexpr uint32_t COR_ILEXCEPTION_CLAUSE_EXCEPTION = 0;

// The 12-byte fat method header.
struct FatMethodHeader {
    uint16_t FlagsAndSize; // Flags in the low 12 bits, header length in 4-byte units in the high 4
    uint16_t MaxStack;
    uint32_t CodeSize;
    uint32_t LocalVarSigTok;

    unsigned Flags() const { return FlagsAndSize & 0x0FFFu; }
    unsigned Size() const { return FlagsAndSize >> 12; }
    void SetFlags(unsigned flags) {
        FlagsAndSize = static_cast<uint16_t>((FlagsAndSize & 0xF000u) | (flags & 0x0FFFu));
    }
    void SetSize(unsigned size) {
        FlagsAndSize = static_cast<uint16_t>((FlagsAndSize & 0x0FFFu) | (size << 12));
    }
};
static_assert(sizeof(FatMethodHeader) == 12, "fat method header is 12 bytes on disk");

// The 24-byte fat exception clause.
struct FatEHClause {
    uint32_t Flags;
    uint32_t TryOffset;
    uint32_t TryLength;
    uint32_t HandlerOffset;
    uint32_t HandlerLength;
    uint32_t ClassToken; // the filter's offset for a filter clause
};
static_assert(sizeof(FatEHClause) == 24, "fat exception clause is 24 bytes on disk");

// What DecoderInit finds in a method body. Outside callers allocate it, so its layout is fixed.
struct MethodHeaderDecoder {
    FatMethodHeader Header;
    const BYTE* Code;        // first IL byte; null when the header was not recognised
    const void* LocalSig;    // only cleared here
    uint32_t LocalSigLength; // only cleared here
    const BYTE* EH;          // exception section or null
    const BYTE* Sect;        // first data section after the exception section, or null
};
static_assert(offsetof(MethodHeaderDecoder, Header) == 0, "decoder layout");
static_assert(offsetof(MethodHeaderDecoder, Code) == 16, "decoder layout");
static_assert(offsetof(MethodHeaderDecoder, LocalSig) == 24, "decoder layout");
static_assert(offsetof(MethodHeaderDecoder, LocalSigLength) == 32, "decoder layout");
static_assert(offsetof(MethodHeaderDecoder, EH) == 40, "decoder layout");
static_assert(offsetof(MethodHeaderDecoder, Sect) == 48, "decoder layout");
static_assert(sizeof(MethodHeaderDecoder) == 56, "decoder layout");

METHOD_HEADER_API void DecoderInit(void* decoder, const void* header);
METHOD_HEADER_API ULONG DecoderGetOnDiskSize(void* decoder, const void* header);

METHOD_HEADER_API unsigned IlmethodSize(const FatMethodHeader* header, BOOL moreSections);
METHOD_HEADER_API unsigned IlmethodEmit(unsigned size, const FatMethodHeader* header, BOOL moreSections,
                                        BYTE* out);

METHOD_HEADER_API FatEHClause* SectEH_EHClause(void* section, unsigned index, FatEHClause* buffer);
METHOD_HEADER_API unsigned SectEH_SizeWithCode(unsigned count, unsigned codeSize);
METHOD_HEADER_API unsigned SectEH_SizeWorst(unsigned count);
METHOD_HEADER_API unsigned SectEH_SizeExact(unsigned count, const FatEHClause* clauses);
METHOD_HEADER_API unsigned SectEH_Emit(unsigned size, unsigned count, const FatEHClause* clauses,
                                       BOOL moreSections, BYTE* out, ULONG* typeOffsets);

// On-disk length of a whole IL method (header, code and every data section); 0 for a null pointer
// or an unrecognised header.
ULONG MethodBodySize(const BYTE* ilMethod);
// The same length read only within the first limit bytes; limit when no whole method fits in them.
ULONG MethodBodySizeWithin(const BYTE* ilMethod, ULONG limit);

} // namespace profilermultiplexer
