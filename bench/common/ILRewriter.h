// Rewrites an IL method the simplest way that still changes it: one nop before the first instruction.
#pragma once

#include "ComBase.h"

namespace pmbench {

// Tiny methods and fat methods without data sections get the nop (a tiny method that outgrows 63 code
// bytes becomes fat); a method with data sections (exception clauses) is copied unchanged, since the nop
// would move its clauses.
class ILRewriter {
public:
    // Bytes the rewritten method needs, given the method and its whole size.
    static ULONG RewrittenSize(LPCBYTE method, ULONG size);
    // Writes the rewritten method to out (RewrittenSize bytes); false when it was copied unchanged.
    static bool Rewrite(LPCBYTE method, ULONG size, BYTE* out);

private:
    static constexpr ULONG FatHeaderSize = 12;
    static constexpr ULONG MaxTinyCodeSize = 63;
    // Code size of a header that can take the nop, or -1 when the method is to be copied.
    static long CodeSizeIfRewritable(LPCBYTE method, ULONG size);
};

} // namespace pmbench
