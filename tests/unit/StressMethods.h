// The methods of the stress test and the shape of their IL: a tiny-header method whose code starts with
// one slot per target. Target k rewrites a method by writing its marker into slot k, so any number of
// rewrites in any order gives the method's base IL with some slots marked, and the chain of all targets
// gives every slot marked.
#pragma once

#include "CorProfilerTypes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

namespace profilermultiplexer::tests {

struct StressMethod {
    FunctionID functionId;
    ModuleID moduleId;
    mdMethodDef methodDef;
};

class StressMethods {
public:
    static constexpr std::size_t TargetCount = 3;
    static constexpr std::size_t ModuleCount = 3;
    static constexpr std::size_t MethodsPerModule = 8;

    StressMethods() {
        for (std::size_t module = 0; module < ModuleCount; ++module) {
            for (std::size_t method = 0; method < MethodsPerModule; ++method) {
                const std::size_t index = _methods.size();
                _methods.push_back({static_cast<FunctionID>(0x5000 + index),
                                    static_cast<ModuleID>(0x100000 * (module + 1)),
                                    static_cast<mdMethodDef>(0x06000001 + method)});
            }
        }
    }

    const std::vector<StressMethod>& All() const { return _methods; }
    const StressMethod& At(std::size_t index) const { return _methods[index % _methods.size()]; }

    static BYTE Marker(std::size_t target) { return static_cast<BYTE>(0xA0 + target); }

    // Header, one empty slot per target, bytes of the method's own, ret.
    static std::vector<BYTE> BaseIL(const StressMethod& method) {
        const BYTE own[] = {0x20,
                            static_cast<BYTE>(method.methodDef),
                            static_cast<BYTE>(method.methodDef >> 8),
                            static_cast<BYTE>(method.moduleId >> 20),
                            0x26,
                            0x2A};
        constexpr std::size_t codeSize = TargetCount + sizeof(own);
        std::vector<BYTE> il(1 + codeSize, 0x00);
        il[0] = static_cast<BYTE>(codeSize << 2 | 0x2);
        std::copy(std::begin(own), std::end(own), il.begin() + 1 + TargetCount);
        return il;
    }

    // The base IL with slot k marked for every k in marked (a bit set).
    static std::vector<BYTE> ChainIL(const StressMethod& method, unsigned marked) {
        std::vector<BYTE> il = BaseIL(method);
        for (std::size_t target = 0; target < TargetCount; ++target) {
            if ((marked & (1u << target)) != 0) {
                il[1 + target] = Marker(target);
            }
        }
        return il;
    }

    // True when il is the method's base IL with any of the slots marked by their own target.
    static bool IsChainIL(const StressMethod& method, const BYTE* il, std::size_t size) {
        const std::vector<BYTE> base = BaseIL(method);
        if (il == nullptr || size != base.size()) {
            return false;
        }
        for (std::size_t index = 0; index < size; ++index) {
            const bool slot = index >= 1 && index <= TargetCount;
            if (il[index] != base[index] && !(slot && il[index] == Marker(index - 1))) {
                return false;
            }
        }
        return true;
    }

    // The method with this module and token; null for any other.
    const StressMethod* Find(ModuleID moduleId, mdMethodDef methodDef) const {
        for (const StressMethod& method : _methods) {
            if (method.moduleId == moduleId && method.methodDef == methodDef) {
                return &method;
            }
        }
        return nullptr;
    }

private:
    std::vector<StressMethod> _methods;
};

} // namespace profilermultiplexer::tests
