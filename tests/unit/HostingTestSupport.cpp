#include "HostingTestSupport.h"

#include <dlfcn.h>
#include <filesystem>

namespace profilermultiplexer::tests {

namespace {

// "[date time] [level] [thread id] message" gives "level: message".
std::string LeveledMessage(std::string const& line) {
    std::size_t const levelBegin = line.find("] [");
    std::size_t const levelEnd = line.find(']', levelBegin + 3);
    std::size_t const messageBegin = line.find("] ", line.find("[thread "));
    if (levelBegin == std::string::npos || levelEnd == std::string::npos ||
        messageBegin == std::string::npos) {
        return line;
    }
    return line.substr(levelBegin + 3, levelEnd - levelBegin - 3) + ": " + line.substr(messageBegin + 2);
}

} // namespace

Activation Activate(CLSID const& clsid, IID const& riid) {
    IClassFactory* factory = nullptr;
    HRESULT hr = DllGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr) || factory == nullptr) {
        return {FAILED(hr) ? hr : E_FAIL, nullptr};
    }
    void* object = nullptr;
    hr = factory->CreateInstance(nullptr, riid, &object);
    factory->Release();
    return {hr, SUCCEEDED(hr) ? static_cast<IUnknown*>(object) : nullptr};
}

std::vector<std::string> LeveledMessages(LogCapture const& capture) {
    std::vector<std::string> messages;
    for (std::string const& line : capture.Lines()) {
        messages.push_back(LeveledMessage(line));
    }
    return messages;
}

std::vector<std::string> LeveledMessagesStartingWith(LogCapture const& capture, std::string const& prefix) {
    std::vector<std::string> messages;
    for (std::string const& message : LeveledMessages(capture)) {
        std::size_t const text = message.find(": ");
        if (text != std::string::npos && message.compare(text + 2, prefix.size(), prefix) == 0) {
            messages.push_back(message);
        }
    }
    return messages;
}

TargetEnvironment::TargetEnvironment(std::string prefix) : _prefix(std::move(prefix)) {
    for (char const* variable : {"CORECLR_PROFILERS", "COR_PROFILERS", "FORCE_PROFILER_MULTIPLEXER"}) {
        _environment.Unset(variable);
    }
}

void TargetEnvironment::SetList(std::string const& list) {
    _environment.Set(_prefix + "PROFILERS", list);
}

void TargetEnvironment::Set(std::string const& name, std::string const& suffix, std::string const& value) {
    _environment.Set(_prefix + name + suffix, value);
}

void TargetEnvironment::Unset(std::string const& name, std::string const& suffix) {
    _environment.Unset(_prefix + name + suffix);
}

void TargetEnvironment::SetTarget(std::string const& name, std::string const& path, std::string const& clsid,
                                  std::string const& priority) {
    for (char const* suffix : {"_ENABLE_PROFILING", "_PROFILER_PATH_64", "_REVERT_REJIT_CALL_ORDER"}) {
        Unset(name, suffix);
    }
    Set(name, "_PROFILER_PATH", path);
    Set(name, "_PROFILER", clsid);
    Set(name, "_PRIORITY", priority);
}

std::string TargetLibrary(std::string const& name) {
    return std::string(PM_TEST_TARGETS_DIR) + "/" + name + ".so";
}

TargetCopy::TargetCopy(std::string const& name) : _folder(LogCapture::MakeTemporaryFolder().string()) {
    _path = _folder + "/" + name + ".so";
    std::filesystem::copy_file(TargetLibrary(name), _path);
}

TargetCopy::~TargetCopy() {
    std::error_code ignored;
    std::filesystem::remove_all(_folder, ignored);
}

bool IsLoaded(std::string const& path) {
    void* const handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle == nullptr) {
        return false;
    }
    dlclose(handle);
    return true;
}

int FixtureCounter(std::string const& path, char const* counter) {
    void* const handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle == nullptr) {
        return -1;
    }
    auto const read = reinterpret_cast<int (*)()>(dlsym(handle, counter));
    int const value = read != nullptr ? read() : -1;
    dlclose(handle);
    return value;
}

} // namespace profilermultiplexer::tests
