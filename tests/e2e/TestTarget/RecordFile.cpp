#include "RecordFile.h"

#include <fcntl.h>
#include <unistd.h>

namespace e2e {

std::atomic<uint64_t> RecordFile::s_sequence{0};

RecordFile::RecordFile(const std::string& path) {
    if (!path.empty()) {
        _fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
}

RecordFile::~RecordFile() {
    if (_fd >= 0) {
        close(_fd);
    }
}

void RecordFile::Record(const char* kind, const char* name, const std::string& details) const noexcept {
    const uint64_t seq = ++s_sequence;
    try {
        WriteLine(std::to_string(seq) + "\t" + std::to_string(gettid()) + "\t" + kind + "\t" + name + "\t" +
                  details);
    } catch (...) {
    }
}

void RecordFile::WriteLine(const std::string& text) const noexcept {
    if (_fd < 0) {
        return;
    }
    try {
        // One write per line: O_APPEND keeps lines from several threads whole.
        const std::string line = text + "\n";
        ssize_t written = write(_fd, line.data(), line.size());
        (void)written;
    } catch (...) {
    }
}

} // namespace e2e
