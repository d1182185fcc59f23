// Size-rotating log file with the names and rotation of spdlog's rotating_file_sink, which never opens its
// file through a symbolic link and refuses a file that is not a regular file of this user's with one link.
// Every open, rename and removal is made relative to the log folder's descriptor, held for the sink's life:
// the folder's path may be swapped meanwhile, the files stay where they are.
#pragma once

#include "logging/FileDescriptor.h"

#include <spdlog/sinks/base_sink.h>

#include <cstddef>
#include <mutex>
#include <string>

namespace profilermultiplexer {

class NoFollowRotatingFileSink final : public spdlog::sinks::base_sink<std::mutex> {
public:
    // Opens baseFileName in the folder, rotating it first when rotateOnOpen and it is not empty; throws
    // spdlog::spdlog_ex when the file cannot be used. folderPath names the folder in messages.
    NoFollowRotatingFileSink(FileDescriptor folder, std::string const& folderPath, std::string baseFileName,
                             std::size_t maxSize, std::size_t maxFiles, bool rotateOnOpen);
    ~NoFollowRotatingFileSink() override;

    NoFollowRotatingFileSink(NoFollowRotatingFileSink const&) = delete;
    NoFollowRotatingFileSink& operator=(NoFollowRotatingFileSink const&) = delete;

    // The base name for index 0, else the index before its extension: "log.txt", 3 gives "log.3.txt".
    static std::string FileName(std::string const& baseFileName, std::size_t index);

protected:
    void sink_it_(spdlog::details::log_msg const& msg) override;
    void flush_() override {}

private:
    void Open(bool truncate);
    void Close() noexcept;
    // log.txt to log.1.txt, log.1.txt to log.2.txt and so on; the last one is replaced.
    void Rotate();
    std::size_t FileSize() const;
    void Write(char const* data, std::size_t size);
    bool Exists(std::string const& name) const;
    // Replaces target with source.
    bool Rename(std::string const& source, std::string const& target) const;
    // The file's path, for messages.
    std::string Path(std::string const& name) const;

    FileDescriptor const _folder;
    std::string const _folderPath;
    std::string const _baseFileName;
    std::size_t const _maxSize;
    std::size_t const _maxFiles;
    std::size_t _currentSize = 0;
    int _file = -1; // none once a rotation failed to reopen the file
};

} // namespace profilermultiplexer
