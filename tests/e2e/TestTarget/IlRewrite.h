// The IL rewrite a test target applies to a method that returns an int: an operation with a constant,
// inserted before the method's final ret. Written as text:
//   "add 10"        the method returns its result + 10
//   "mul 2"         the method returns its result * 2
//   "guard add 10"  the same, behind a try/catch put in front of the body (a fat header with an
//                   exception section)
//   "read"          the target only reads the IL
// Nops put in front move the whole code; an IL map then tells where each original offset went.
// The method's header may be tiny or fat; extra sections of a fat method move behind the longer code.
#pragma once

#include "ComBase.h"
#include "CorProfilerTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

class IlRewrite {
public:
    enum class Operation { None, Read, Add, Multiply };

    // An empty text gives None; text that does not parse gives None with valid() false.
    static IlRewrite Parse(const std::string& text);

    bool valid() const { return _valid; }
    bool reads() const { return _operation != Operation::None; }
    bool writes() const { return _operation == Operation::Add || _operation == Operation::Multiply; }

    // The rewritten method (header, code and extra sections). catchType is the class token of the
    // guard's catch clause. With nops, that many nop instructions go in front of the code, and map receives
    // where each offset of the original code lies in the new one. Unsupported input gives an empty result
    // and the reason in error.
    std::vector<BYTE> Apply(const BYTE* method, ULONG size, mdToken catchType, int nops,
                            std::vector<COR_IL_MAP>& map, std::string& error) const;

private:
    Operation _operation = Operation::None;
    int32_t _operand = 0;
    bool _guard = false;
    bool _valid = true;
};

// Lower-case hexadecimal of the bytes, without separators.
std::string HexBytes(const BYTE* bytes, size_t size);

} // namespace e2e
