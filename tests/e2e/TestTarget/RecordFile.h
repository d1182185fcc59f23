// Appends one line per event to a target's record file: "seq<TAB>thread<TAB>kind<TAB>name<TAB>details".
// seq comes from one counter shared by every target instance in the process, so the records of two
// targets show which of them was called first.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace e2e {

class RecordFile {
public:
    explicit RecordFile(const std::string& path);
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;
    ~RecordFile();

    // kind is "callback" for a callback received, "call" for a call the target made.
    void Record(const char* kind, const char* name, const std::string& details = {}) const noexcept;
    // A line without sequence number (summary, verdict).
    void WriteLine(const std::string& text) const noexcept;

private:
    int _fd = -1;
    static std::atomic<uint64_t> s_sequence;
};

} // namespace e2e
