// A hash table from a method (module, token) to a value, held in one array: no allocation per entry, and
// a lookup mostly reads one cache line. Linear probing, at most three quarters full; an erasure moves the
// entries behind it back, so there are no tombstones. Not thread-safe but for Prefetch. Pointers to values
// stay valid until the next insertion or erasure.
#pragma once

#include "platform/CorProfilerTypes.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace profilermultiplexer {

template <class Value> class MethodMap {
public:
    Value* Find(ModuleID moduleId, mdMethodDef methodDef) noexcept {
        const std::size_t index = IndexOf(moduleId, methodDef);
        return index == None ? nullptr : &_slots[index].value;
    }

    const Value* Find(ModuleID moduleId, mdMethodDef methodDef) const noexcept {
        const std::size_t index = IndexOf(moduleId, methodDef);
        return index == None ? nullptr : &_slots[index].value;
    }

    // The method's value, default-made when it has none. Throws std::bad_alloc before anything changes.
    Value& FindOrAdd(ModuleID moduleId, mdMethodDef methodDef) {
        if (Value* found = Find(moduleId, methodDef)) {
            return *found;
        }
        if (4 * (_size + 1) > 3 * _slots.size()) {
            Grow();
        }
        Slot& slot = _slots[FreeIndexFor(moduleId, methodDef)];
        slot.moduleId = moduleId;
        slot.methodDef = methodDef;
        slot.used = true;
        ++_size;
        return slot.value;
    }

    // False when the method had no entry.
    bool Erase(ModuleID moduleId, mdMethodDef methodDef) noexcept {
        const std::size_t index = IndexOf(moduleId, methodDef);
        if (index == None) {
            return false;
        }
        EraseAt(index);
        return true;
    }

    // Erases every entry of the module.
    void EraseModule(ModuleID moduleId) noexcept {
        for (std::size_t index = 0; index < _slots.size(); ++index) {
            // An erasure may move a later entry of the module here: look again.
            while (_slots[index].used && _slots[index].moduleId == moduleId) {
                EraseAt(index);
            }
        }
    }

    // Calls visit(moduleId, methodDef, value) for every entry, in no particular order.
    template <class Visit> void ForEach(Visit&& visit) const {
        for (const Slot& slot : _slots) {
            if (slot.used) {
                visit(slot.moduleId, slot.methodDef, slot.value);
            }
        }
    }

    void Clear() noexcept {
        _slots.clear();
        _size = 0;
    }

    // Starts loading the line where the method's entry is or would go. Safe on any thread without the
    // map's lock: at worst it loads a line the map no longer uses.
    void Prefetch(ModuleID moduleId, mdMethodDef methodDef) const noexcept {
        const Slot* slots = _publishedSlots.load(std::memory_order_relaxed);
        if (slots != nullptr) {
            __builtin_prefetch(slots +
                               Home(moduleId, methodDef, _publishedMask.load(std::memory_order_relaxed)));
        }
    }

private:
    struct Slot {
        ModuleID moduleId = 0;
        mdMethodDef methodDef = 0;
        bool used = false;
        Value value{};
    };

    static constexpr std::size_t None = ~std::size_t{0};

    // The slot of the method's entry, or None.
    std::size_t IndexOf(ModuleID moduleId, mdMethodDef methodDef) const noexcept {
        if (_size == 0) {
            return None;
        }
        for (std::size_t index = Home(moduleId, methodDef);; index = Next(index)) {
            const Slot& slot = _slots[index];
            if (!slot.used) {
                return None;
            }
            if (slot.moduleId == moduleId && slot.methodDef == methodDef) {
                return index;
            }
        }
    }

    std::size_t Home(ModuleID moduleId, mdMethodDef methodDef) const noexcept {
        return Home(moduleId, methodDef, _slots.size() - 1);
    }

    // The first free slot on the method's probe, where its entry goes.
    std::size_t FreeIndexFor(ModuleID moduleId, mdMethodDef methodDef) const noexcept {
        std::size_t index = Home(moduleId, methodDef);
        while (_slots[index].used) {
            index = Next(index);
        }
        return index;
    }

    static std::size_t Home(ModuleID moduleId, mdMethodDef methodDef, std::size_t mask) noexcept {
        // Tokens of one module differ in their low bits, module ids in their middle bits: the high half
        // of the product mixes both.
        const std::uint64_t key =
            (static_cast<std::uint64_t>(moduleId) * UINT64_C(0x9E3779B97F4A7C15)) ^ methodDef;
        return static_cast<std::size_t>((key * UINT64_C(0xD6E8FEB86659FD93)) >> 32) & mask;
    }

    std::size_t Next(std::size_t index) const noexcept { return (index + 1) & (_slots.size() - 1); }

    // Empties the slot and moves back each entry behind it whose probe passes the hole.
    void EraseAt(std::size_t hole) noexcept {
        _slots[hole] = Slot{};
        --_size;
        for (std::size_t next = Next(hole); _slots[next].used; next = Next(next)) {
            const std::size_t home = Home(_slots[next].moduleId, _slots[next].methodDef);
            const std::size_t mask = _slots.size() - 1;
            if (((next - home) & mask) >= ((next - hole) & mask)) {
                _slots[hole] = std::move(_slots[next]);
                _slots[next] = Slot{};
                hole = next;
            }
        }
    }

    // Twice the slots (16 at first), every entry placed anew.
    void Grow() {
        std::vector<Slot> old(_slots.empty() ? 16 : 2 * _slots.size());
        old.swap(_slots);
        _publishedSlots.store(_slots.data(), std::memory_order_relaxed);
        _publishedMask.store(_slots.size() - 1, std::memory_order_relaxed);
        for (Slot& slot : old) {
            if (slot.used) {
                _slots[FreeIndexFor(slot.moduleId, slot.methodDef)] = std::move(slot);
            }
        }
    }

    std::vector<Slot> _slots;
    std::size_t _size = 0;
    // The storage as last grown, for Prefetch on any thread.
    std::atomic<const Slot*> _publishedSlots{nullptr};
    std::atomic<std::size_t> _publishedMask{0};
};

} // namespace profilermultiplexer
