// Shared pieces of the hosting tests: the main log as (level, message) pairs and the environment of
// configured targets.
#pragma once

#include "LogCapture.h"
#include "LoggingEnvironment.h"
#include "platform/CorProfilerCallback.h"

#include <string>
#include <utility>
#include <vector>

// The library's exports, called directly in the test program.
extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
extern "C" HRESULT DllCanUnloadNow();
BOOL DllMain(void*, unsigned int, void*);

namespace profilermultiplexer::tests {

// What the runtime receives from one activation.
struct Activation {
    HRESULT hr;
    IUnknown* object; // the reference the runtime would hold; null unless hr succeeded
};

// Does what the runtime does: DllGetClassObject for clsid's class factory, then its CreateInstance for
// riid; releases the factory.
Activation Activate(CLSID const& clsid, IID const& riid = IID_ICorProfilerCallback2);

// "info: text" for every line of the main log, in order.
std::vector<std::string> LeveledMessages(LogCapture const& capture);

// The lines of the main log that begin with prefix, as LeveledMessages gives them.
std::vector<std::string> LeveledMessagesStartingWith(LogCapture const& capture, std::string const& prefix);

// Sets the variables of targets under one prefix ("CORECLR_" or "COR_"); restores the environment when
// destroyed. Every variable a test leaves alone is unset, so the machine's environment cannot leak in.
class TargetEnvironment {
public:
    explicit TargetEnvironment(std::string prefix = "CORECLR_");

    void SetList(std::string const& list);
    void Set(std::string const& name, std::string const& suffix, std::string const& value);
    void Unset(std::string const& name, std::string const& suffix);
    // A complete target: path, class id text and priority.
    void SetTarget(std::string const& name, std::string const& path, std::string const& clsid,
                   std::string const& priority);
    void SetRaw(std::string const& variable, std::string const& value) { _environment.Set(variable, value); }
    void UnsetRaw(std::string const& variable) { _environment.Unset(variable); }

private:
    std::string _prefix;
    LoggingEnvironment _environment;
};

// The path of a built test target library, e.g. "WellBehavedTarget".
std::string TargetLibrary(std::string const& name);

// A copy of a test target library under a new temporary path, so the dynamic loader sees a library it
// has never loaded; the copy goes away with this object (the loader keeps what it mapped).
class TargetCopy {
public:
    explicit TargetCopy(std::string const& name);
    ~TargetCopy();

    TargetCopy(TargetCopy const&) = delete;
    TargetCopy& operator=(TargetCopy const&) = delete;

    std::string const& Path() const { return _path; }

private:
    std::string _folder;
    std::string _path;
};

// Whether the dynamic loader holds the library; does not load it.
bool IsLoaded(std::string const& path);

// The value of one of the counters a loaded test target library exports ("FixtureLiveObjects",
// "FixtureLiveFactories"); -1 when the library is not loaded.
int FixtureCounter(std::string const& path, char const* counter);

} // namespace profilermultiplexer::tests
