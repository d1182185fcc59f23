#include "hosting/FakeComUtil.h"
#include "hosting/TargetProfilerFactory.h"

#include "HostingTestSupport.h"
#include "LogCapture.h"
#include "TargetFixtureIds.h"
#include "logging/Util.h"
#include "platform/ProfilerMultiplexerIds.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <dlfcn.h>

using namespace profilermultiplexer;
using namespace profilermultiplexer::tests;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

std::string Replace(std::string text, std::string const& placeholder, std::string const& value) {
    for (std::size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at)) {
        text.replace(at, placeholder.size(), value);
        at += value.size();
    }
    return text;
}

// One way a target library can fail to give an object, or succeed only half-way, seen from activation.
struct LoadRow {
    char const* label;
    char const* fixture; // the library loaded; nullptr: a path where no file is
    char const* clsid;   // the configured class id text
    HRESULT result;
    std::vector<std::string> log; // "level: message", innermost first; {path} is the library's path
    bool loadedAfter;
};

void PrintTo(LoadRow const& row, std::ostream* os) {
    *os << row.label;
}

// The log of activation without the configuration's lines.
std::vector<std::string> ActivationMessages(LogCapture const& capture) {
    std::vector<std::string> messages;
    for (std::string const& message : LeveledMessages(capture)) {
        if (message.rfind("info: TargetProfilerFactory: ", 0) != 0 &&
            message.rfind("info: ClassFactory: ProfilerSet size is ", 0) != 0) {
            messages.push_back(message);
        }
    }
    return messages;
}

class TargetLoadingTest : public ::testing::TestWithParam<LoadRow> {
protected:
    LogCapture _capture{"trace"};
    TargetEnvironment _environment;
};

TEST_P(TargetLoadingTest, ReportsEveryLayerAndKeepsOrClosesTheLibrary) {
    LoadRow const& row = GetParam();
    std::optional<TargetCopy> copy;
    std::string path = _capture.Folder().string() + "/Missing.so";
    if (row.fixture != nullptr) {
        copy.emplace(row.fixture);
        path = copy->Path();
    }
    _environment.SetList("Target");
    _environment.SetTarget("Target", path, row.clsid, "1");

    Activation const activation = Activate(CLSID_CoreClrProfilerMultiplexer);

    EXPECT_EQ(activation.hr, row.result);
    std::vector<std::string> expected;
    for (std::string const& line : row.log) {
        expected.push_back(Replace(line, "{path}", path));
    }
    EXPECT_EQ(ActivationMessages(_capture), expected);
    EXPECT_EQ(IsLoaded(path), row.loadedAfter);
    if (row.loadedAfter) {
        EXPECT_EQ(FixtureCounter(path, "FixtureLiveFactories"), 0);
        EXPECT_EQ(FixtureCounter(path, "FixtureLiveObjects"), activation.object != nullptr ? 1 : 0);
    }
    if (activation.object != nullptr) {
        activation.object->Release();
        EXPECT_EQ(FixtureCounter(path, "FixtureLiveObjects"), 0);
    }
}

std::string const NowFailed =
    "warning: Failed to load profiler library from: {path}, reason: {path}: {reason} using "
    "'RTLD_NOW', trying to load it using the 'RTLD_LAZY' approach.";
std::string const Unloading = "error: Unloading the library: {path}";
std::string const NoTargetCreated =
    "info: Profiler Multiplexer: Initialization failed, no target profiler is found or configured";
std::string const SteppedAside =
    "info: ClassFactory: A single profiler has detected, the multiplexer profiler will "
    "transfer direct control to the Target profiler!";

std::string LayersFailed(std::string const& code) {
    return "error: FakeCoCallDllGetClassObject has failed to create the profiler. Hr 0X" + code;
}

std::string FactoryFailed(std::string const& code) {
    return "error: TargetProfilerFactory: Error in FakeCoCreateInstanceEx, hr = 0X" + code;
}

std::string CreationFailed(std::string const& code) {
    return "error: ClassFactory::CreateInstance: Error creating profiler: Target, error code: 0x" + code;
}

constexpr char const* ServedClsid = targetfixture::ClsidText;

INSTANTIATE_TEST_SUITE_P(
    Libraries, TargetLoadingTest,
    ::testing::Values(
        LoadRow{"LoadsLazily",
                "LazyTarget",
                ServedClsid,
                S_OK,
                {Replace(NowFailed, "{reason}", "undefined symbol: TarnixFixtureFunctionDefinedNowhere"),
                 SteppedAside},
                true},
        LoadRow{"NoFile",
                nullptr,
                ServedClsid,
                CORPROF_E_PROFILER_CANCEL_ACTIVATION,
                {Replace(NowFailed, "{reason}", "cannot open shared object file: No such file or directory"),
                 "error: Can't load profiler library from: {path}, reason: {path}: cannot open shared object "
                 "file: "
                 "No such file or directory using 'RTLD_LAZY'.",
                 LayersFailed("-7fffbffb"), FactoryFailed("-7fffbffb"), CreationFailed("-7fffbffb"),
                 NoTargetCreated},
                false},
        LoadRow{"ClassIdTextDoesNotParse",
                "WellBehavedTarget",
                "{5D3D6A1E-6C1B-4B8E-9E57-3C8F0E2A4B1}",
                CORPROF_E_PROFILER_CANCEL_ACTIVATION,
                {"error: TargetProfilerFactory::CreateProfiler, Error converting IID to string. IID: "
                 "{5D3D6A1E-6C1B-4B8E-9E57-3C8F0E2A4B1}",
                 CreationFailed("-7ffbfe0d"), NoTargetCreated},
                false},
        LoadRow{"NoDllGetClassObject",
                "NoEntryTarget",
                ServedClsid,
                CORPROF_E_PROFILER_CANCEL_ACTIVATION,
                {"error: GetProcAddress failed to find DllGetClassObject, for: {path}", Unloading,
                 LayersFailed("-7fffbffb"), FactoryFailed("-7fffbffb"), CreationFailed("-7fffbffb"),
                 NoTargetCreated},
                false},
        LoadRow{"DllGetClassObjectThrows",
                "ThrowingEntryTarget",
                ServedClsid,
                CORPROF_E_PROFILER_CANCEL_ACTIVATION,
                {"error: GetProcAddress/dlsym failed with an exception", Unloading, LayersFailed("-7fffbffb"),
                 FactoryFailed("-7fffbffb"), CreationFailed("-7fffbffb"), NoTargetCreated},
                false},
        LoadRow{"ClassNotAvailable",
                "ClassNotAvailableTarget",
                ServedClsid,
                CORPROF_E_PROFILER_CANCEL_ACTIVATION,
                {Unloading, LayersFailed("-7ffbfeef"), FactoryFailed("-7ffbfeef"),
                 CreationFailed("-7ffbfeef"), NoTargetCreated},
                false},
        LoadRow{"ClassIdNotServed",
                "WellBehavedTarget",
                "{8A8CC829-CCF2-49FE-BBAE-0F022228071A}",
                CORPROF_E_PROFILER_CANCEL_ACTIVATION,
                {Unloading, LayersFailed("-7ffbfeef"), FactoryFailed("-7ffbfeef"),
                 CreationFailed("-7ffbfeef"), NoTargetCreated},
                false},
        LoadRow{"NullFactory",
                "NullFactoryTarget",
                ServedClsid,
                CORPROF_E_PROFILER_CANCEL_ACTIVATION,
                {"error: FakeCoCallDllGetClassObject has failed to create the profiler. "
                 "FakeCoCallDllGetClassObject "
                 "returns null",
                 FactoryFailed("-7fffbffb"), CreationFailed("-7fffbffb"), NoTargetCreated},
                true},
        LoadRow{"CreateInstanceThrows",
                "ThrowingFactoryTarget",
                ServedClsid,
                CORPROF_E_PROFILER_CANCEL_ACTIVATION,
                {"error: pClassFactory->CreateInstance has failed to create the profiler.Exception!",
                 FactoryFailed("-7fffbffb"), CreationFailed("-7fffbffb"), NoTargetCreated},
                true},
        LoadRow{"CreateInstanceGivesNoObject",
                "NullObjectTarget",
                ServedClsid,
                CORPROF_E_PROFILER_CANCEL_ACTIVATION,
                {"error: ClassFactory::CreateInstance: Error creating profiler: Target, profiler interface "
                 "is null",
                 NoTargetCreated},
                true},
        LoadRow{"ObjectRefusesCallback2",
                "NoCallback2Target",
                ServedClsid,
                CORPROF_E_PROFILER_CANCEL_ACTIVATION,
                {CreationFailed("-7fffbffe"), NoTargetCreated},
                true}),
    [](auto const& info) { return std::string(info.param.label); });

TEST(FakeComUtilTest, HandsOutTheLibraryHandleOnlyOnSuccess) {
    TargetCopy good("WellBehavedTarget");
    TargetCopy bad("ClassNotAvailableTarget");
    IClassFactory* factory = nullptr;
    void* goodModule = nullptr;
    void* badModule = reinterpret_cast<void*>(0x1);
    void* ignored = nullptr;

    ASSERT_EQ(FakeCoCallDllGetClassObject(targetfixture::Clsid, Util::utf8_to_utf16(good.Path()).c_str(),
                                          IID_IClassFactory, reinterpret_cast<void**>(&factory), &goodModule),
              S_OK);
    EXPECT_EQ(FakeCoCallDllGetClassObject(targetfixture::Clsid, Util::utf8_to_utf16(bad.Path()).c_str(),
                                          IID_IClassFactory, &ignored, &badModule),
              CLASS_E_CLASSNOTAVAILABLE);

    void* const handle = dlopen(good.Path().c_str(), RTLD_LAZY | RTLD_NOLOAD);
    EXPECT_EQ(goodModule, handle);
    dlclose(handle);
    EXPECT_EQ(badModule, nullptr);
    EXPECT_EQ(FixtureCounter(good.Path(), "FixtureLiveFactories"), 1);
    factory->Release();
    EXPECT_EQ(FixtureCounter(good.Path(), "FixtureLiveFactories"), 0);
}

TEST(FakeComUtilTest, PathThatCannotBeConvertedIsCaught) {
    LogCapture capture("trace");
    char16_t const path[] = {u'/', char16_t(0xD800), u'x', 0};
    void* object = nullptr;

    EXPECT_EQ(FakeCoCreateInstanceEx(targetfixture::Clsid, path, IID_ICorProfilerCallback2, &object, nullptr),
              E_FAIL);
    EXPECT_THAT(
        LeveledMessages(capture),
        ElementsAre("error: FakeCoCallDllGetClassObject has failed to create the profiler.Exception!"));
}

} // namespace
