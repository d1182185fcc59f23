#include "logging/PrimitiveLogOutput.h"

#include <cstdint>
#include <iterator>
#include <mutex>
#include <string>
#include <syslog.h>

namespace profilermultiplexer {

namespace {

constexpr char const* Prefix = "Profiler Multiplexer: ";
constexpr char const* Ident = "ProfilerMultiplexer";

// Serialises the mask change, open, write, close and mask restore of concurrent messages, so that one
// message's restore cannot leave another's mask in place. Constant-initialised with a destructor that
// does nothing, so it also works during process exit.
std::mutex s_systemLogLock;

// Addresses are written as a stream writes them (0 for null, else 0x and hex digits), never as the text
// they might point to.
void Append(std::string& text, void const* address) {
    if (address == nullptr) {
        text += '0';
        return;
    }
    char digits[2 * sizeof(std::uintptr_t)];
    char* first = std::end(digits);
    for (auto value = reinterpret_cast<std::uintptr_t>(address); value != 0; value /= 16) {
        *--first = "0123456789abcdef"[value % 16];
    }
    text.append("0x").append(first, std::end(digits));
}

void Append(std::string& text, void* address) {
    Append(text, static_cast<void const*>(address));
}

void Append(std::string& text, unsigned char* address) {
    Append(text, static_cast<void const*>(address));
}

void Append(std::string& text, unsigned char const* address) {
    Append(text, static_cast<void const*>(address));
}

// A null C string writes nothing.
void Append(std::string& text, char const* value) {
    if (value != nullptr) {
        text += value;
    }
}

void Append(std::string& text, char* value) {
    Append(text, static_cast<char const*>(value));
}

void Append(std::string& text, std::string const& value) {
    text += value;
}

template <typename Number> void Append(std::string& text, Number value) {
    text += std::to_string(value);
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
        std::string text = Prefix;
        Append(text, value);
        WriteToSystemLog(text);
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
