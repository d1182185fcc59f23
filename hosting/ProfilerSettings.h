#pragma once

#include <string>

namespace profilermultiplexer {

// One configured target profiler, read from the environment. Moved from place to place, never copied.
struct ProfilerSettings {
    std::u16string name;
    std::u16string path;
    std::u16string clsid;
    double priority = 0.0;
    bool revertRejitCallOrder = false;

    ProfilerSettings() = default;
    ProfilerSettings(std::u16string name, std::u16string path, std::u16string clsid, double priority,
                     bool revertRejitCallOrder)
        : name(std::move(name)), path(std::move(path)), clsid(std::move(clsid)), priority(priority),
          revertRejitCallOrder(revertRejitCallOrder) {}
    ProfilerSettings(ProfilerSettings&&) noexcept = default;
    ProfilerSettings& operator=(ProfilerSettings&&) noexcept = default;
    ProfilerSettings(const ProfilerSettings&) = delete;
    ProfilerSettings& operator=(const ProfilerSettings&) = delete;
    ~ProfilerSettings() = default;
};

} // namespace profilermultiplexer
