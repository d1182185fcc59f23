#include "hosting/FakeComUtil.h"
#include "hosting/TargetProfilerFactory.h"

#include "HostingTestSupport.h"
#include "LogCapture.h"
#include "TargetFixtureIds.h"
#include "logging/Util.h"

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

// One way a target library can fail to give an object, or succeed only half-way.
struct LoadRow {
    char const* label;
    char const* fixture; // the library loaded; nullptr: a path where no file is
    HRESULT result;
    std::vector<std::string> log; // "level: message", innermost first; {path} is the library's path
    bool loadedAfter;
};

void PrintTo(LoadRow const& row, std::ostream* os) {
    *os << row.label;
}

class TargetLoadingTest : public ::testing::TestWithParam<LoadRow> {
protected:
    LogCapture _capture{"trace"};
};

TEST_P(TargetLoadingTest, ReportsEveryLayerAndKeepsOrClosesTheLibrary) {
    LoadRow const& row = GetParam();
    std::optional<TargetCopy> copy;
    std::string path = LogCapture::MakeTemporaryFolder().string() + "/Missing.so";
    if (row.fixture != nullptr) {
        copy.emplace(row.fixture);
        path = copy->Path();
    }
    ProfilerSettings const settings(u"Target", Util::utf8_to_utf16(path),
                                    Util::utf8_to_utf16(targetfixture::ClsidText), 1.0, false);
    ICorProfilerCallback9* callback = nullptr;

    HRESULT const hr = TargetProfilerFactory::CreateProfiler(settings, &callback);

    EXPECT_EQ(hr, row.result);
    EXPECT_EQ(callback != nullptr, SUCCEEDED(row.result));
    std::vector<std::string> expected;
    for (std::string const& line : row.log) {
        expected.push_back(Replace(line, "{path}", path));
    }
    EXPECT_EQ(LeveledMessages(_capture), expected);
    EXPECT_EQ(IsLoaded(path), row.loadedAfter);
    if (row.loadedAfter) {
        EXPECT_EQ(FixtureCounter(path, "FixtureLiveFactories"), 0);
        EXPECT_EQ(FixtureCounter(path, "FixtureLiveObjects"), callback != nullptr ? 1 : 0);
    }
    if (callback != nullptr) {
        callback->Release();
        EXPECT_EQ(FixtureCounter(path, "FixtureLiveObjects"), 0);
    }
}

std::string const NowFailed =
    "warning: Failed to load profiler library from: {path}, reason: {path}: {reason} using "
    "'RTLD_NOW', trying to load it using the 'RTLD_LAZY' approach.";
std::string const Unloading = "error: Unloading the library: {path}";

std::string LayersFailed(std::string const& code) {
    return "error: FakeCoCallDllGetClassObject has failed to create the profiler. Hr 0X" + code;
}

std::string FactoryFailed(std::string const& code) {
    return "error: TargetProfilerFactory: Error in FakeCoCreateInstanceEx, hr = 0X" + code;
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, TargetLoadingTest,
    ::testing::Values(
        LoadRow{"LoadsLazily",
                "LazyTarget",
                S_OK,
                {Replace(NowFailed, "{reason}", "undefined symbol: TarnixFixtureFunctionDefinedNowhere")},
                true},
        LoadRow{"NoFile",
                nullptr,
                E_FAIL,
                {Replace(NowFailed, "{reason}", "cannot open shared object file: No such file or directory"),
                 "error: Can't load profiler library from: {path}, reason: {path}: cannot open shared object "
                 "file: "
                 "No such file or directory using 'RTLD_LAZY'.",
                 LayersFailed("-7fffbffb"), FactoryFailed("-7fffbffb")},
                false},
        LoadRow{"NoDllGetClassObject",
                "NoEntryTarget",
                E_FAIL,
                {"error: GetProcAddress failed to find DllGetClassObject, for: {path}", Unloading,
                 LayersFailed("-7fffbffb"), FactoryFailed("-7fffbffb")},
                false},
        LoadRow{"DllGetClassObjectThrows",
                "ThrowingEntryTarget",
                E_FAIL,
                {"error: GetProcAddress/dlsym failed with an exception", Unloading, LayersFailed("-7fffbffb"),
                 FactoryFailed("-7fffbffb")},
                false},
        LoadRow{"ClassNotAvailable",
                "ClassNotAvailableTarget",
                CLASS_E_CLASSNOTAVAILABLE,
                {Unloading, LayersFailed("-7ffbfeef"), FactoryFailed("-7ffbfeef")},
                false},
        LoadRow{"NullFactory",
                "NullFactoryTarget",
                E_FAIL,
                {"error: FakeCoCallDllGetClassObject has failed to create the profiler. "
                 "FakeCoCallDllGetClassObject "
                 "returns null",
                 FactoryFailed("-7fffbffb")},
                true},
        LoadRow{"CreateInstanceThrows",
                "ThrowingFactoryTarget",
                E_FAIL,
                {"error: pClassFactory->CreateInstance has failed to create the profiler.Exception!",
                 FactoryFailed("-7fffbffb")},
                true},
        LoadRow{"ObjectRefusesCallback2", "NoCallback2Target", E_NOINTERFACE, {}, true}),
    [](auto const& info) { return std::string(info.param.label); });

TEST(FakeComUtilTest, CreatesTheObjectAndReleasesTheFactory) {
    LogCapture capture("trace");
    TargetCopy copy("WellBehavedTarget");
    void* object = nullptr;
    void* module = nullptr;

    HRESULT const hr = FakeCoCreateInstanceEx(targetfixture::Clsid, Util::utf8_to_utf16(copy.Path()).c_str(),
                                              IID_ICorProfilerCallback2, &object, &module);

    ASSERT_EQ(hr, S_OK);
    ASSERT_NE(object, nullptr);
    void* const handle = dlopen(copy.Path().c_str(), RTLD_LAZY | RTLD_NOLOAD);
    EXPECT_EQ(module, handle);
    dlclose(handle);
    EXPECT_EQ(FixtureCounter(copy.Path(), "FixtureLiveFactories"), 0);
    EXPECT_EQ(FixtureCounter(copy.Path(), "FixtureLiveObjects"), 1);
    static_cast<IUnknown*>(object)->Release();
    EXPECT_EQ(FixtureCounter(copy.Path(), "FixtureLiveObjects"), 0);
    EXPECT_THAT(LeveledMessages(capture), IsEmpty());
}

TEST(FakeComUtilTest, ClassIdTheLibraryDoesNotServeIsPassedUp) {
    TargetCopy copy("WellBehavedTarget");
    void* object = nullptr;

    HRESULT const hr = FakeCoCreateInstanceEx(IID_IUnknown, Util::utf8_to_utf16(copy.Path()).c_str(),
                                              IID_ICorProfilerCallback2, &object, nullptr);

    EXPECT_EQ(hr, CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_FALSE(IsLoaded(copy.Path()));
}

TEST(FakeComUtilTest, FactoryKeepsTheLibraryLoadedAndHandsOutItsHandle) {
    TargetCopy copy("WellBehavedTarget");
    IClassFactory* factory = nullptr;
    void* module = reinterpret_cast<void*>(1);

    HRESULT const hr =
        FakeCoCallDllGetClassObject(targetfixture::Clsid, Util::utf8_to_utf16(copy.Path()).c_str(),
                                    IID_IClassFactory, reinterpret_cast<void**>(&factory), &module);

    ASSERT_EQ(hr, S_OK);
    ASSERT_NE(factory, nullptr);
    EXPECT_NE(module, nullptr);
    EXPECT_EQ(FixtureCounter(copy.Path(), "FixtureLiveFactories"), 1);
    factory->Release();
    EXPECT_EQ(FixtureCounter(copy.Path(), "FixtureLiveFactories"), 0);
}

TEST(FakeComUtilTest, FailureLeavesNoHandle) {
    TargetCopy copy("ClassNotAvailableTarget");
    void* factory = nullptr;
    void* module = reinterpret_cast<void*>(1);

    EXPECT_EQ(FakeCoCallDllGetClassObject(targetfixture::Clsid, Util::utf8_to_utf16(copy.Path()).c_str(),
                                          IID_IClassFactory, &factory, &module),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(module, nullptr);
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
