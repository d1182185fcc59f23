// Builds the main logger at a chosen level over a fresh temporary log folder and reads back its log
// file. Also clears the system-log recorder, so a test sees only its own messages there.
// When destroyed, it restores the environment and removes the folder; the main logger stays.
#pragma once

#include "LoggingEnvironment.h"

#include <filesystem>
#include <string>
#include <vector>

namespace profilermultiplexer::tests {

class LogCapture {
public:
    // level: a Tarnix_Agent_LogLevel word such as "trace" or "err".
    explicit LogCapture(std::string const& level = "trace", bool isCoreClr = true);
    ~LogCapture();

    LogCapture(LogCapture const&) = delete;
    LogCapture& operator=(LogCapture const&) = delete;

    std::filesystem::path const& Folder() const { return _folder; }
    // profiler_multiplexer<pid>.log in the folder.
    std::filesystem::path LogFile() const;

    // Every line of the log file, as written.
    std::vector<std::string> Lines() const;
    // The lines without their "[date time] [level] [thread id] " start: the messages alone.
    std::vector<std::string> Messages() const;

    // A new empty folder in the temporary directory; the caller removes it.
    static std::filesystem::path MakeTemporaryFolder();

private:
    LoggingEnvironment _environment;
    std::filesystem::path _folder;
};

} // namespace profilermultiplexer::tests
