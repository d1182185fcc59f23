#include "ilchain/ILMapComposition.h"

#include <utility>

namespace profilermultiplexer {

namespace {

// Looks an offset up in a map as the runtime does: the last entry at or below it, taking the entries in
// their order (the first one whose old offset lies past it ends the search); null below the first entry.
// next carries the end of the previous search, which a larger offset never moves back.
const COR_IL_MAP* LookUp(const COR_IL_MAP* entries, ULONG count, ULONG32 offset, ULONG& next) {
    if (offset < entries[0].oldOffset) {
        return nullptr;
    }
    while (next < count && entries[next].oldOffset <= offset) {
        ++next;
    }
    return &entries[next - 1];
}

} // namespace

void ILMapComposition::Then(const COR_IL_MAP* entries, ULONG count) {
    if (entries == nullptr || count == 0) {
        return;
    }
    if (_steps++ == 0) {
        _entries.assign(entries, entries + count);
        return;
    }
    std::vector<COR_IL_MAP> composed;
    composed.reserve(_entries.size());
    ULONG next = 1;
    ULONG32 previous = 0;
    for (const COR_IL_MAP& entry : _entries) {
        if (entry.newOffset < previous) {
            next = 1;
        }
        previous = entry.newOffset;
        const COR_IL_MAP* later = LookUp(entries, count, entry.newOffset, next);
        if (later == nullptr) {
            // Before anything the later map knows: the runtime maps no offset there.
            continue;
        }
        const bool exact = later->oldOffset == entry.newOffset;
        // The later rewrite dropped the code at this offset: an entry naming the code before it again would
        // add nothing one way and, the other way, take that code for this entry's.
        if (!exact && !composed.empty() && composed.back().newOffset == later->newOffset) {
            continue;
        }
        composed.push_back({entry.oldOffset, later->newOffset, entry.fAccurate && later->fAccurate && exact});
    }
    _entries = std::move(composed);
}

} // namespace profilermultiplexer
