// Size-rotating log file with the names and rotation of spdlog's rotating_file_sink, which never opens its
// file through a symbolic link and refuses a file that is not a regular file of this user's with one link.
// Every open, rename and removal is made relative to the log folder's descriptor, held for the sink's life:
// the folder's path may be swapped meanwhile, the files stay where they are. No file grows past the
// process's file-size limit (which would end the process): its size limit is the lower of maxSize and that
// limit, read at each open.
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
    // The file opened afresh, or -1 with the reason in error.
    int OpenFile(bool truncate, std::size_t& size, std::string& error) const;
    void Close() noexcept;
    // log.txt to log.1.txt, log.1.txt to log.2.txt and so on; the last one is replaced. When the new
    // log.txt cannot be opened, lines go on to the current file and the next rotation only opens it.
    void Rotate();
    // Opens log.txt in place of the current file; false, keeping the current one, when it cannot.
    bool ReplaceFile(bool truncate, std::string& error);
    // Ends file logging; the system log says why.
    void Stop(std::string const& reason) noexcept;
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
    std::size_t _fileSizeLimit = 0; // the process's, read at the last open
    std::size_t _sizeLimit = 0;     // the lower of it and _maxSize
    std::size_t _currentSize = 0;
    int _file = -1;               // none once file logging stopped
    bool _replacePending = false; // rotated, but the new file could not be opened
};

} // namespace profilermultiplexer
