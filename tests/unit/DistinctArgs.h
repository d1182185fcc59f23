// Calls an interface method with a distinct value for every argument, and turns arguments into numbers
// so that a fake can record what reached it and a test can compare.
#pragma once

#include "ComBase.h"

#include <cstdint>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace profilermultiplexer::tests {

// An argument as a number: integers and enumerations by value, pointers by address, and arguments taken
// by reference (a GUID) by the address of the referenced object.
template <class T> uint64_t ArgBits(const T& value) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<uintptr_t>(value);
    } else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) {
        return static_cast<uint64_t>(value);
    } else {
        return reinterpret_cast<uintptr_t>(&value);
    }
}

template <class... Args> std::vector<uint64_t> ArgsBits(const Args&... args) {
    return {ArgBits(args)...};
}

// The seed-th distinct value of a type: a different number per position and per call.
template <class T> T DistinctValue(uint64_t seed) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<T>(static_cast<uintptr_t>(0x10000 + seed * 0x100));
    } else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) {
        return static_cast<T>(0x40 + seed);
    } else {
        T value{};
        static_assert(std::is_trivially_copyable_v<T>, "a plain struct");
        reinterpret_cast<unsigned char*>(&value)[0] = static_cast<unsigned char>(seed);
        return value;
    }
}

// Calls (object->*method) with distinct values; returns the result and the arguments as numbers.
template <class Interface, class Object, class... Params, std::size_t... I>
std::pair<HRESULT, std::vector<uint64_t>> CallWithDistinctArgsImpl(Object* object,
                                                                   HRESULT (Interface::*method)(Params...),
                                                                   uint64_t seed, std::index_sequence<I...>) {
    std::tuple<std::decay_t<Params>...> values{DistinctValue<std::decay_t<Params>>(seed * 16 + I)...};
    const HRESULT hr = (static_cast<Interface*>(object)->*method)(std::get<I>(values)...);
    return {hr, ArgsBits(std::get<I>(values)...)};
}

template <class Interface, class Object, class... Params>
std::pair<HRESULT, std::vector<uint64_t>>
CallWithDistinctArgs(Object* object, HRESULT (Interface::*method)(Params...), uint64_t seed) {
    return CallWithDistinctArgsImpl(object, method, seed, std::index_sequence_for<Params...>{});
}

// One recorded call: the method's name and its arguments as numbers.
struct RecordedCall {
    std::string name;
    std::vector<uint64_t> args;
    bool operator==(const RecordedCall& other) const { return name == other.name && args == other.args; }
};

} // namespace profilermultiplexer::tests
