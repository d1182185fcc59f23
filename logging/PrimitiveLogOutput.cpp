#include "logging/PrimitiveLogOutput.h"

#include <mutex>
#include <sstream>
#include <syslog.h>

namespace profilermultiplexer {

namespace {

constexpr char const* Prefix = "Profiler Multiplexer: ";
constexpr char const* Ident = "ProfilerMultiplexer";

// Serialises the mask change, open, write, close and mask restore of concurrent messages, so that one
// message's restore cannot leave another's mask in place. Constant-initialised with a destructor that
// does nothing, so it also works during process exit.
std::mutex s_systemLogLock;

// Addresses are written as addresses, never as the text they might point to.
void WriteValue(std::ostream& stream, unsigned char* value) {
    stream << static_cast<void const*>(value);
}

void WriteValue(std::ostream& stream, unsigned char const* value) {
    stream << static_cast<void const*>(value);
}

// A null C string marks the stream bad and writes nothing.
template <typename T> void WriteValue(std::ostream& stream, T const& value) {
    stream << value;
}

void WriteToSystemLog(std::string const& text) {
    std::lock_guard<std::mutex> lock(s_systemLogLock);
    int const previousMask = setlogmask(LOG_UPTO(LOG_NOTICE));
    openlog(Ident, LOG_PID | LOG_CONS | LOG_NDELAY, LOG_LOCAL1);
    syslog(LOG_EMERG, "%s", text.c_str());
    closelog();
    // The mask is process-wide: leave it as it was for every other user of the system log.
    setlogmask(previousMask);
}

} // namespace

template <typename T> void PrimitiveLogOutput(T value) noexcept {
    try {
        std::ostringstream stream;
        stream << Prefix;
        WriteValue(stream, value);
        WriteToSystemLog(stream.str());
    } catch (...) {
    }
}

template void PrimitiveLogOutput<char const*>(char const*) noexcept;
template void PrimitiveLogOutput<char*>(char*) noexcept;
template void PrimitiveLogOutput<std::string>(std::string) noexcept;
template void PrimitiveLogOutput<int>(int) noexcept;
template void PrimitiveLogOutput<unsigned int>(unsigned int) noexcept;
template void PrimitiveLogOutput<unsigned long>(unsigned long) noexcept;
template void PrimitiveLogOutput<void*>(void*) noexcept;
template void PrimitiveLogOutput<unsigned char*>(unsigned char*) noexcept;
template void PrimitiveLogOutput<unsigned char const*>(unsigned char const*) noexcept;

} // namespace profilermultiplexer
