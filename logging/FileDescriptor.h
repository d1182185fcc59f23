// An open file or folder descriptor, closed when its holder goes.
#pragma once

#include <unistd.h>

#include <utility>

namespace profilermultiplexer {

class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int descriptor) noexcept : _descriptor(descriptor) {}
    FileDescriptor(FileDescriptor&& other) noexcept : _descriptor(other.Release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    FileDescriptor(FileDescriptor const&) = delete;
    FileDescriptor& operator=(FileDescriptor const&) = delete;
    ~FileDescriptor() { Reset(); }

    int Get() const noexcept { return _descriptor; }
    bool IsOpen() const noexcept { return _descriptor >= 0; }
    int Release() noexcept { return std::exchange(_descriptor, -1); }
    void Reset(int descriptor = -1) noexcept {
        if (_descriptor >= 0) {
            ::close(_descriptor);
        }
        _descriptor = descriptor;
    }

private:
    int _descriptor = -1;
};

} // namespace profilermultiplexer
