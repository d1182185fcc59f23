#include "LogCapture.h"

#include "SyslogRecorder.h"
#include "logging/Logging.h"

#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace profilermultiplexer::tests {

std::filesystem::path LogCapture::MakeTemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pm-logs-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::filesystem::filesystem_error("mkdtemp", std::make_error_code(std::errc::io_error));
    }
    return pattern;
}

LogCapture::LogCapture(std::string const& level, bool isCoreClr) : _folder(MakeTemporaryFolder()) {
    _environment.Set("Tarnix_Agent_LogsFolder", _folder.string());
    _environment.Set("Tarnix_Agent_LogLevel", level);
    SyslogRecorder::Clear();
    LoggerManager& manager = Singleton<LoggerManager>::Instance();
    manager.SetLogLevel();
    manager.InitiateMainLogger(isCoreClr);
}

LogCapture::~LogCapture() {
    std::error_code ignored;
    std::filesystem::remove_all(_folder, ignored);
}

std::filesystem::path LogCapture::LogFile() const {
    return _folder / ("profiler_multiplexer" + std::to_string(::getpid()) + ".log");
}

std::vector<std::string> LogCapture::Lines() const {
    std::vector<std::string> lines;
    std::ifstream file(LogFile());
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> LogCapture::Messages() const {
    std::vector<std::string> messages;
    for (std::string const& line : Lines()) {
        std::size_t const end = line.find("] ", line.find("[thread "));
        messages.push_back(end == std::string::npos ? line : line.substr(end + 2));
    }
    return messages;
}

} // namespace profilermultiplexer::tests
