// Captures what the process sends to the system log. This test program defines openlog, setlogmask,
// syslog, vsyslog, closelog (and their fortified forms) itself, so nothing reaches the real system log.
// The mask, facility and ident are applied as the C library applies them.
#pragma once

#include <string>
#include <vector>

namespace profilermultiplexer::tests {

struct SyslogMessage {
    int priority;      // LOG_EMERG .. LOG_DEBUG
    int facility;      // the facility in effect, e.g. LOG_USER or LOG_LOCAL1
    std::string ident; // of the last openlog; empty when none or after closelog
    int options;       // of the last openlog
    bool opened;       // openlog was called and closelog not yet
    std::string text;
};

class SyslogRecorder {
public:
    // Forgets the messages recorded so far; the system log's settings stay.
    static void Clear();

    static std::vector<SyslogMessage> Messages();
    static std::vector<std::string> Texts();

    // The current mask, as setlogmask(0) would return it.
    static int Mask();
    static bool IsOpen();
};

} // namespace profilermultiplexer::tests
