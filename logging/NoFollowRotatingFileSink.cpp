#include "logging/NoFollowRotatingFileSink.h"

#include "logging/PrimitiveLogOutput.h"

#include <spdlog/details/file_helper.h>
#include <spdlog/fmt/fmt.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <utility>

namespace profilermultiplexer {

namespace {

// Why an open file must not be written; nullptr when it may.
char const* RefusalReason(int file) {
    struct stat info {};
    if (::fstat(file, &info) != 0) {
        return "cannot be examined";
    }
    if (!S_ISREG(info.st_mode)) {
        return "is not a regular file";
    }
    if (info.st_nlink != 1) {
        return "has more than one link";
    }
    if (info.st_uid != ::geteuid()) {
        return "is owned by another user";
    }
    return nullptr;
}

// The process's soft file-size limit: a write beyond it ends the process (SIGXFSZ at its default).
std::size_t FileSizeLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
        limit.rlim_cur > std::numeric_limits<std::size_t>::max()) {
        return std::numeric_limits<std::size_t>::max();
    }
    return static_cast<std::size_t>(limit.rlim_cur);
}

} // namespace

NoFollowRotatingFileSink::NoFollowRotatingFileSink(FileDescriptor folder, std::string const& folderPath,
                                                   std::string baseFileName, std::size_t maxSize,
                                                   std::size_t maxFiles, bool rotateOnOpen)
    : _folder(std::move(folder)), _folderPath(folderPath), _baseFileName(std::move(baseFileName)),
      _maxSize(maxSize), _maxFiles(maxFiles) {
    try {
        Open(false);
        if (rotateOnOpen && _currentSize > 0) {
            Rotate();
        }
    } catch (...) {
        // No destructor runs for a sink whose construction failed.
        Close();
        throw;
    }
}

bool NoFollowRotatingFileSink::Exists(std::string const& name) const {
    struct stat info {};
    return ::fstatat(_folder.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

bool NoFollowRotatingFileSink::Rename(std::string const& source, std::string const& target) const {
    ::unlinkat(_folder.Get(), target.c_str(), 0);
    return ::renameat(_folder.Get(), source.c_str(), _folder.Get(), target.c_str()) == 0;
}

std::string NoFollowRotatingFileSink::Path(std::string const& name) const {
    return _folderPath + "/" + name;
}

NoFollowRotatingFileSink::~NoFollowRotatingFileSink() {
    Close();
}

std::string NoFollowRotatingFileSink::FileName(std::string const& baseFileName, std::size_t index) {
    if (index == 0) {
        return baseFileName;
    }
    std::string base;
    std::string extension;
    std::tie(base, extension) = spdlog::details::file_helper::split_by_extension(baseFileName);
    return fmt::format("{}.{}{}", base, index, extension);
}

void NoFollowRotatingFileSink::sink_it_(spdlog::details::log_msg const& msg) {
    if (_file < 0) {
        return; // stopped, and the system log said why
    }
    spdlog::memory_buf_t formatted;
    formatter_->format(msg, formatted);
    std::size_t const size = formatted.size();
    if (size > _fileSizeLimit) {
        Stop(
            fmt::format("a line of {} bytes exceeds the process's file-size limit (RLIMIT_FSIZE) of {} bytes",
                        size, _fileSizeLimit));
        return;
    }
    // Rotates only a file that really holds something, as a full disk leaves it empty.
    if (_currentSize + size > _sizeLimit) {
        _currentSize = FileSize();
        if (_currentSize > 0 && _currentSize + size > _sizeLimit) {
            Rotate();
        }
    }
    if (_currentSize + size > _fileSizeLimit) {
        return; // no new file could be opened, and the current one is full
    }
    Write(formatted.data(), size);
    _currentSize += size;
}

void NoFollowRotatingFileSink::Open(bool truncate) {
    std::string error;
    if (!ReplaceFile(truncate, error)) {
        spdlog::throw_spdlog_ex(error);
    }
}

// Non-blocking, so that a FIFO planted in the file's place cannot stall the open.
int NoFollowRotatingFileSink::OpenFile(bool truncate, std::size_t& size, std::string& error) const {
    int const file =
        ::openat(_folder.Get(), _baseFileName.c_str(),
                 O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (file < 0) {
        error = "Failed opening file " + Path(_baseFileName) + " for writing: " + std::strerror(errno);
        return -1;
    }
    if (char const* reason = RefusalReason(file)) {
        ::close(file);
        error = "Refused log file " + Path(_baseFileName) + ": it " + reason;
        return -1;
    }
    struct stat info {};
    if (::fcntl(file, F_SETFL, O_APPEND) != 0 || (truncate && ::ftruncate(file, 0) != 0) ||
        ::fstat(file, &info) != 0) {
        error = "Failed preparing file " + Path(_baseFileName) + ": " + std::strerror(errno);
        ::close(file);
        return -1;
    }
    size = static_cast<std::size_t>(info.st_size);
    return file;
}

bool NoFollowRotatingFileSink::ReplaceFile(bool truncate, std::string& error) {
    std::size_t size = 0;
    int const file = OpenFile(truncate, size, error);
    if (file < 0) {
        return false;
    }
    Close();
    _file = file;
    _currentSize = size;
    _fileSizeLimit = FileSizeLimit();
    _sizeLimit = std::min(_maxSize, _fileSizeLimit);
    return true;
}

void NoFollowRotatingFileSink::Close() noexcept {
    if (_file >= 0) {
        ::close(_file);
        _file = -1;
    }
}

void NoFollowRotatingFileSink::Stop(std::string const& reason) noexcept {
    Close();
    try {
        PrimitiveLogOutput("No more lines to the log file " + Path(_baseFileName) + ": " + reason);
    } catch (...) {
    }
}

void NoFollowRotatingFileSink::Rotate() {
    std::string error;
    for (std::size_t i = _replacePending ? 0 : _maxFiles; i > 0; --i) {
        std::string const source = FileName(_baseFileName, i - 1);
        if (!Exists(source)) {
            continue;
        }
        std::string const target = FileName(_baseFileName, i);
        if (!Rename(source, target)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (!Rename(source, target)) {
                int const renameError = errno;
                ReplaceFile(true, error); // emptied anyway, so that it does not grow beyond its limit
                spdlog::throw_spdlog_ex("rotating_file_sink: failed renaming " + Path(source) + " to " +
                                            Path(target),
                                        renameError);
            }
        }
    }
    if (ReplaceFile(true, error)) {
        _replacePending = false;
    } else if (!std::exchange(_replacePending, true)) {
        // Reported at once: the throttled error handler may have just reported something else.
        PrimitiveLogOutput("Log file rotation: " + error + "; lines go on to " +
                           Path(FileName(_baseFileName, _maxFiles > 0 ? 1 : 0)));
    }
}

std::size_t NoFollowRotatingFileSink::FileSize() const {
    struct stat info {};
    if (::fstat(_file, &info) != 0) {
        spdlog::throw_spdlog_ex("Failed getting file size. fd=" + std::to_string(_file), errno);
    }
    return static_cast<std::size_t>(info.st_size);
}

void NoFollowRotatingFileSink::Write(char const* data, std::size_t size) {
    while (size > 0) {
        ssize_t const written = ::write(_file, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            spdlog::throw_spdlog_ex("Failed writing to file " + Path(_baseFileName), errno);
        }
        if (written == 0) {
            spdlog::throw_spdlog_ex("Failed writing to file " + Path(_baseFileName) + ": nothing written");
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

} // namespace profilermultiplexer
