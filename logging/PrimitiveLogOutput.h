// Output of last resort: one message straight to the system log, for when the main logger cannot be reached.
#pragma once

#include <string>

namespace profilermultiplexer {

// Writes "Profiler Multiplexer: " and the value as one LOG_EMERG message (ident "ProfilerMultiplexer",
// facility LOG_LOCAL1). Needs no set-up, takes no lock and never throws. The process's system-log mask is
// the same after the call as before it.
template <typename T> void PrimitiveLogOutput(T value) noexcept;

extern template void PrimitiveLogOutput<char const*>(char const*) noexcept;
extern template void PrimitiveLogOutput<char*>(char*) noexcept;
extern template void PrimitiveLogOutput<std::string>(std::string) noexcept;
extern template void PrimitiveLogOutput<int>(int) noexcept;
extern template void PrimitiveLogOutput<unsigned int>(unsigned int) noexcept;
extern template void PrimitiveLogOutput<unsigned long>(unsigned long) noexcept;
extern template void PrimitiveLogOutput<void*>(void*) noexcept;
extern template void PrimitiveLogOutput<unsigned char*>(unsigned char*) noexcept;
extern template void PrimitiveLogOutput<unsigned char const*>(unsigned char const*) noexcept;

} // namespace profilermultiplexer
