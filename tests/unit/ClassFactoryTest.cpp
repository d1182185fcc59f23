#include "hosting/ClassFactory.h"

#include "HostingTestSupport.h"
#include "LogCapture.h"
#include "SyslogRecorder.h"
#include "TargetFixtureIds.h"
#include "logging/Logging.h"
#include "platform/ProfilerMultiplexerIds.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

using namespace profilermultiplexer;
using namespace profilermultiplexer::tests;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Present when the program runs under the leak sanitizer.
extern "C" int __lsan_do_recoverable_leak_check() __attribute__((weak));

namespace {

constexpr char const* Marker = "log line written before the call";

std::vector<std::string> ClassFactoryMessages(LogCapture const& capture) {
    std::vector<std::string> messages;
    for (std::string const& message : LeveledMessages(capture)) {
        if (message.find("ClassFactory") != std::string::npos ||
            message.find("Profiler Multiplexer:") != std::string::npos) {
            messages.push_back(message);
        }
    }
    return messages;
}

// Whether the object is a test target's own (the multiplexer does not answer TargetOnlyIid).
bool IsTargetObject(IUnknown* object) {
    void* probed = nullptr;
    if (FAILED(object->QueryInterface(targetfixture::TargetOnlyIid, &probed))) {
        return false;
    }
    static_cast<IUnknown*>(probed)->Release();
    return true;
}

// One call of DllGetClassObject and what it gives.
struct EntryRow {
    char const* label;
    CLSID const* clsid;
    IID const* riid;
    bool nullOutput;
    HRESULT result;
    bool factoryCreated; // also: the main logger was started again
};

void PrintTo(EntryRow const& row, std::ostream* os) {
    *os << row.label;
}

class DllGetClassObjectTest : public ::testing::TestWithParam<EntryRow> {};

TEST_P(DllGetClassObjectTest, AnswersOnlyItsOwnClassIds) {
    EntryRow const& row = GetParam();
    LogCapture capture("trace");
    Error(Marker);
    void* output = reinterpret_cast<void*>(0x1);

    HRESULT const hr = DllGetClassObject(*row.clsid, *row.riid, row.nullOutput ? nullptr : &output);

    EXPECT_EQ(hr, row.result);
    if (row.factoryCreated && SUCCEEDED(hr)) {
        ASSERT_NE(output, nullptr);
        static_cast<IUnknown*>(output)->Release();
    } else if (row.factoryCreated) {
        EXPECT_EQ(output, nullptr);
    } else {
        EXPECT_EQ(output, reinterpret_cast<void*>(0x1));
    }
    bool const markerKept = !capture.Lines().empty() && capture.Messages().front() == Marker;
    EXPECT_EQ(markerKept, !row.factoryCreated) << "the main logger is started by every new class factory";
}

INSTANTIATE_TEST_SUITE_P(
    Calls, DllGetClassObjectTest,
    ::testing::Values(
        EntryRow{"CoreClrFactory", &CLSID_CoreClrProfilerMultiplexer, &IID_IClassFactory, false, S_OK, true},
        EntryRow{"ClrFactory", &CLSID_ClrProfilerMultiplexer, &IID_IClassFactory, false, S_OK, true},
        EntryRow{"AsIUnknown", &CLSID_CoreClrProfilerMultiplexer, &IID_IUnknown, false, S_OK, true},
        EntryRow{"OtherInterface", &CLSID_CoreClrProfilerMultiplexer, &IID_ICorProfilerCallback2, false,
                 E_NOINTERFACE, true},
        EntryRow{"NullOutput", &CLSID_CoreClrProfilerMultiplexer, &IID_IClassFactory, true, E_FAIL, false},
        EntryRow{"ForeignClassId", &IID_ICorProfilerCallback2, &IID_IClassFactory, false, E_FAIL, false}),
    [](auto const& info) { return std::string(info.param.label); });

TEST(ClassFactoryTest, CountsItsReferences) {
    IUnknown* factory = nullptr;
    ASSERT_EQ(
        DllGetClassObject(CLSID_CoreClrProfilerMultiplexer, IID_IUnknown, reinterpret_cast<void**>(&factory)),
        S_OK);

    EXPECT_EQ(factory->AddRef(), 2u);
    EXPECT_EQ(factory->Release(), 1u);
    void* again = nullptr;
    EXPECT_EQ(factory->QueryInterface(IID_ICorProfilerCallback2, &again), E_NOINTERFACE);
    EXPECT_EQ(again, nullptr);
    EXPECT_EQ(static_cast<IClassFactory*>(factory)->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->Release(), 0u);
}

TEST(ClassFactoryTest, OtherExportsChangeNothing) {
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    EXPECT_EQ(DllMain(nullptr, 1, nullptr), TRUE);
}

TEST(ClassFactoryTest, FactoryThatAnswersNoInterfaceIsNotLeaked) {
    if (__lsan_do_recoverable_leak_check == nullptr) {
        GTEST_SKIP() << "needs the leak sanitizer (-DPM_SANITIZE=address)";
    }
    ASSERT_EQ(__lsan_do_recoverable_leak_check(), 0) << "leaks from before this test";
    void* output = nullptr;

    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(DllGetClassObject(CLSID_CoreClrProfilerMultiplexer, IID_ICorProfilerCallback9, &output),
                  E_NOINTERFACE);
    }

    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
}

class CreateInstanceTest : public ::testing::Test {
protected:
    void AddTarget(std::string const& name, std::string const& fixture, std::string const& priority) {
        _copies.push_back(std::make_unique<TargetCopy>(fixture));
        _environment.SetTarget(name, _copies.back()->Path(), targetfixture::ClsidText, priority);
    }

    std::string const& LibraryOf(std::size_t target) const { return _copies[target]->Path(); }

    int LiveObjects(std::size_t target) const {
        return FixtureCounter(LibraryOf(target), "FixtureLiveObjects");
    }

    LogCapture _capture{"info"};
    TargetEnvironment _environment;
    std::vector<std::unique_ptr<TargetCopy>> _copies;
};

TEST_F(CreateInstanceTest, AggregationIsRefused) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(DllGetClassObject(CLSID_CoreClrProfilerMultiplexer, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory)),
              S_OK);
    IUnknown* outer = factory;
    void* output = reinterpret_cast<void*>(0x1);

    EXPECT_EQ(factory->CreateInstance(outer, IID_ICorProfilerCallback2, &output), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(output, nullptr);
    factory->Release();
    EXPECT_THAT(ClassFactoryMessages(_capture), IsEmpty());
}

TEST_F(CreateInstanceTest, NoTargetConfiguredDeclinesActivation) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(DllGetClassObject(CLSID_CoreClrProfilerMultiplexer, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory)),
              S_OK);
    void* output = reinterpret_cast<void*>(0x1);

    EXPECT_EQ(factory->CreateInstance(nullptr, IID_ICorProfilerCallback2, &output),
              CORPROF_E_PROFILER_CANCEL_ACTIVATION);
    EXPECT_EQ(output, reinterpret_cast<void*>(0x1));
    factory->Release();
    EXPECT_THAT(ClassFactoryMessages(_capture),
                ElementsAre("info: ClassFactory: ProfilerSet size is 0",
                            "error: ClassFactory: No profiler has been configure, exiting."));
}

TEST_F(CreateInstanceTest, SingleTargetGetsTheRuntimeDirectly) {
    _environment.SetList("Solo");
    AddTarget("Solo", "WellBehavedTarget", "1");

    Activation const activation = Activate(CLSID_CoreClrProfilerMultiplexer);

    ASSERT_EQ(activation.hr, S_OK);
    EXPECT_TRUE(IsTargetObject(activation.object));
    EXPECT_EQ(LiveObjects(0), 1);
    EXPECT_EQ(activation.object->Release(), 0u) << "the runtime holds the target's only reference";
    EXPECT_EQ(LiveObjects(0), 0);
    EXPECT_THAT(
        ClassFactoryMessages(_capture),
        ElementsAre("info: ClassFactory: ProfilerSet size is 1",
                    "info: ClassFactory: A single profiler has detected, the multiplexer profiler will "
                    "transfer direct control to the Solo profiler!"));
}

TEST_F(CreateInstanceTest, ClrClassIdReadsCorVariables) {
    TargetEnvironment cor("COR_");
    cor.SetList("Desktop");
    _copies.push_back(std::make_unique<TargetCopy>("WellBehavedTarget"));
    cor.SetTarget("Desktop", LibraryOf(0), targetfixture::ClsidText, "1");

    EXPECT_EQ(Activate(CLSID_CoreClrProfilerMultiplexer).hr, CORPROF_E_PROFILER_CANCEL_ACTIVATION);
    Activation const activation = Activate(CLSID_ClrProfilerMultiplexer);

    ASSERT_EQ(activation.hr, S_OK);
    EXPECT_TRUE(IsTargetObject(activation.object));
    activation.object->Release();
}

TEST_F(CreateInstanceTest, SecondTargetThatFailsLeavesTheFirstAlone) {
    _environment.SetList("Good;Broken");
    AddTarget("Good", "WellBehavedTarget", "2");
    AddTarget("Broken", "NoEntryTarget", "1");

    Activation const activation = Activate(CLSID_CoreClrProfilerMultiplexer);

    ASSERT_EQ(activation.hr, S_OK);
    EXPECT_TRUE(IsTargetObject(activation.object));
    activation.object->Release();
    EXPECT_THAT(
        ClassFactoryMessages(_capture),
        ElementsAre("info: ClassFactory: ProfilerSet size is 2",
                    "error: ClassFactory::CreateInstance: Error creating profiler: Broken, error code: "
                    "0x-7fffbffb",
                    "info: ClassFactory: A single profiler has detected, the multiplexer profiler will "
                    "transfer direct control to the Good profiler!"));
}

TEST_F(CreateInstanceTest, TwoTargetsGetTheMultiplexer) {
    _environment.SetList("First;Second");
    AddTarget("First", "WellBehavedTarget", "1");
    AddTarget("Second", "WellBehavedTarget", "2");
    _environment.SetRaw("FORCE_PROFILER_MULTIPLEXER", "0");

    Activation const activation = Activate(CLSID_CoreClrProfilerMultiplexer);

    ASSERT_EQ(activation.hr, S_OK);
    EXPECT_FALSE(IsTargetObject(activation.object));
    EXPECT_EQ(LiveObjects(0), 1);
    EXPECT_EQ(LiveObjects(1), 1);
    EXPECT_EQ(activation.object->Release(), 0u);
    EXPECT_EQ(LiveObjects(0), 0) << "the multiplexer held the targets' only references";
    EXPECT_EQ(LiveObjects(1), 0);
    EXPECT_THAT(ClassFactoryMessages(_capture), ElementsAre("info: ClassFactory: ProfilerSet size is 2"));
}

TEST_F(CreateInstanceTest, TargetRefusingTheRuntimesInterfaceIsReleased) {
    _environment.SetList("Picky");
    AddTarget("Picky", "WellBehavedTarget", "1");

    Activation const activation = Activate(CLSID_CoreClrProfilerMultiplexer, IID_IClassFactory);

    EXPECT_EQ(activation.hr, CORPROF_E_PROFILER_CANCEL_ACTIVATION);
    EXPECT_EQ(LiveObjects(0), 0);
    EXPECT_TRUE(IsLoaded(LibraryOf(0)));
    EXPECT_THAT(
        ClassFactoryMessages(_capture),
        ElementsAre("info: ClassFactory: ProfilerSet size is 1",
                    "error: ClassFactory::CreateInstance: Error creating profiler: Picky, failed on query "
                    "interface with hr=0x-7fffbffe",
                    "info: Profiler Multiplexer: Initialization failed, no target profiler is found or "
                    "configured"));
}

TEST_F(CreateInstanceTest, MultiplexerAnsweringNoInterfaceIsDestroyedWithItsTargets) {
    _environment.SetList("First;Second");
    AddTarget("First", "WellBehavedTarget", "1");
    AddTarget("Second", "WellBehavedTarget", "2");
    IClassFactory* factory = nullptr;
    ASSERT_EQ(DllGetClassObject(CLSID_CoreClrProfilerMultiplexer, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory)),
              S_OK);
    void* output = reinterpret_cast<void*>(0x1);

    // Both targets answer this interface, the multiplexer does not.
    EXPECT_EQ(factory->CreateInstance(nullptr, targetfixture::TargetOnlyIid, &output), E_NOINTERFACE);
    factory->Release();

    EXPECT_EQ(output, nullptr);
    EXPECT_EQ(LiveObjects(0), 0);
    EXPECT_EQ(LiveObjects(1), 0);
}

TEST_F(CreateInstanceTest, TargetThrowingOnQueryInterfaceIsDropped) {
    _environment.SetList("Thrower;Good");
    AddTarget("Thrower", "ThrowingQueryTarget", "1");
    AddTarget("Good", "WellBehavedTarget", "2");

    Activation const activation = Activate(CLSID_CoreClrProfilerMultiplexer, targetfixture::TargetOnlyIid);

    ASSERT_EQ(activation.hr, S_OK);
    EXPECT_TRUE(IsTargetObject(activation.object));
    activation.object->Release();
    EXPECT_EQ(LiveObjects(0), 0);
    EXPECT_EQ(LiveObjects(1), 0);
    EXPECT_THAT(
        ClassFactoryMessages(_capture),
        Contains("error: ClassFactory::CreateInstance: Error creating profiler: Thrower, an exception was "
                 "thrown by the profiler"));
}

// A value of FORCE_PROFILER_MULTIPLEXER and whether it keeps the multiplexer for a single target.
struct ForceRow {
    char const* label;
    char const* value; // nullptr: unset
    bool forcing;
};

void PrintTo(ForceRow const& row, std::ostream* os) {
    *os << row.label;
}

class ForceMultiplexerTest : public CreateInstanceTest, public ::testing::WithParamInterface<ForceRow> {};

TEST_P(ForceMultiplexerTest, DecidesWhatTheRuntimeGetsForOneTarget) {
    _environment.SetList("Solo;Missing");
    AddTarget("Solo", "WellBehavedTarget", "1");
    _environment.SetTarget("Missing", _capture.Folder().string() + "/Missing.so", targetfixture::ClsidText,
                           "2");
    if (GetParam().value != nullptr) {
        _environment.SetRaw("FORCE_PROFILER_MULTIPLEXER", GetParam().value);
    }

    Activation const activation = Activate(CLSID_CoreClrProfilerMultiplexer);

    ASSERT_EQ(activation.hr, S_OK);
    EXPECT_NE(IsTargetObject(activation.object), GetParam().forcing);
    activation.object->Release();
    EXPECT_EQ(LiveObjects(0), 0);
}

INSTANTIATE_TEST_SUITE_P(Values, ForceMultiplexerTest,
                         ::testing::Values(ForceRow{"One", "1", true}, ForceRow{"LowerTrue", "true", true},
                                           ForceRow{"UpperTrue", "TRUE", true},
                                           ForceRow{"MixedTrue", "tRuE", true},
                                           ForceRow{"Padded", "  True\t", true},
                                           ForceRow{"Unset", nullptr, false}, ForceRow{"Blank", "   ", false},
                                           ForceRow{"Zero", "0", false}, ForceRow{"LeadingZero", "01", false},
                                           ForceRow{"Eleven", "11", false}, ForceRow{"Yes", "yes", false},
                                           ForceRow{"Longer", "truex", false},
                                           ForceRow{"NonAscii", "tru\xC3\xA9", false}),
                         [](auto const& info) { return std::string(info.param.label); });

// A target that is configured wrongly is skipped, or refused when it is created; the one configured well
// still reaches the runtime.
struct MisconfiguredRow {
    char const* label;
    char const* suffix;
    char const* value; // nullptr: unset
    bool refusedAtCreation = false;
};

void PrintTo(MisconfiguredRow const& row, std::ostream* os) {
    *os << row.label;
}

class MisconfiguredTargetTest : public CreateInstanceTest,
                                public ::testing::WithParamInterface<MisconfiguredRow> {};

TEST_P(MisconfiguredTargetTest, IsSkippedAndTheOtherStepsIn) {
    _environment.SetList("Bad;Good");
    AddTarget("Bad", "WellBehavedTarget", "1");
    AddTarget("Good", "WellBehavedTarget", "2");
    if (GetParam().value != nullptr) {
        _environment.Set("Bad", GetParam().suffix, GetParam().value);
    } else {
        _environment.Unset("Bad", GetParam().suffix);
    }

    Activation const activation = Activate(CLSID_CoreClrProfilerMultiplexer);

    ASSERT_EQ(activation.hr, S_OK);
    EXPECT_TRUE(IsTargetObject(activation.object));
    activation.object->Release();
    EXPECT_FALSE(IsLoaded(LibraryOf(0)));
    std::vector<std::string> expected{"info: ClassFactory: ProfilerSet size is 1"};
    if (GetParam().refusedAtCreation) {
        expected = {
            "info: ClassFactory: ProfilerSet size is 2",
            "error: ClassFactory::CreateInstance: Error creating profiler: Bad, error code: 0x-7fffbffb"};
        EXPECT_THAT(
            LeveledMessages(_capture),
            Contains(std::string("error: TargetProfilerFactory::CreateProfiler, Bad has the class id of "
                                 "the profiler multiplexer itself (") +
                     GetParam().value + "), it will not be loaded"));
    }
    expected.push_back("info: ClassFactory: A single profiler has detected, the multiplexer profiler will "
                       "transfer direct control to the Good profiler!");
    EXPECT_EQ(ClassFactoryMessages(_capture), expected);
}

INSTANTIATE_TEST_SUITE_P(Variables, MisconfiguredTargetTest,
                         ::testing::Values(MisconfiguredRow{"Disabled", "_ENABLE_PROFILING", "0"},
                                           MisconfiguredRow{"EnableNotANumber", "_ENABLE_PROFILING", "on"},
                                           MisconfiguredRow{"NoPath", "_PROFILER_PATH", nullptr},
                                           MisconfiguredRow{"NoClassId", "_PROFILER", nullptr},
                                           MisconfiguredRow{"NoPriority", "_PRIORITY", nullptr},
                                           MisconfiguredRow{"PriorityOutOfRange", "_PRIORITY", "1e-400"},
                                           MisconfiguredRow{"RevertNotANumber", "_REVERT_REJIT_CALL_ORDER",
                                                            "abc"},
                                           MisconfiguredRow{"MultiplexersCoreClrClassId", "_PROFILER",
                                                            "{3BF080FE-7DEB-4051-AEF1-BD3AB01F1883}", true},
                                           MisconfiguredRow{"MultiplexersClrClassIdInLowerCase", "_PROFILER",
                                                            "{dbe6d54b-4a04-4fd0-83eb-12a1a9dec58b}", true}),
                         [](auto const& info) { return std::string(info.param.label); });

// Environment text that is not UTF-8 ends activation; nothing is thrown to the runtime.
struct BrokenTextRow {
    char const* label;
    char const* variable;
};

void PrintTo(BrokenTextRow const& row, std::ostream* os) {
    *os << row.label;
}

class BrokenEnvironmentTextTest : public CreateInstanceTest,
                                  public ::testing::WithParamInterface<BrokenTextRow> {};

TEST_P(BrokenEnvironmentTextTest, FailsActivation) {
    _environment.SetList("Solo");
    AddTarget("Solo", "WellBehavedTarget", "1");
    _environment.SetRaw(GetParam().variable, "\xC3\x28");

    Activation const activation = Activate(CLSID_CoreClrProfilerMultiplexer);

    EXPECT_EQ(activation.hr, E_FAIL);
    EXPECT_FALSE(IsLoaded(LibraryOf(0))) << "every variable is read before any target is created";
    EXPECT_THAT(ClassFactoryMessages(_capture),
                Contains(::testing::StartsWith("error: ClassFactory::CreateInstance: activation failed")));
}

INSTANTIATE_TEST_SUITE_P(Variables, BrokenEnvironmentTextTest,
                         ::testing::Values(BrokenTextRow{"TargetList", "CORECLR_PROFILERS"},
                                           BrokenTextRow{"TargetPath", "CORECLR_Solo_PROFILER_PATH"},
                                           BrokenTextRow{"Force", "FORCE_PROFILER_MULTIPLEXER"}),
                         [](auto const& info) { return std::string(info.param.label); });

// Runs in a new process of its own, where the logging singleton has never been built.
TEST(ClassFactoryDeathTest, WorksWhenTheLoggerCannotBeBuilt) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("Tarnix_Agent_LogLevel", "\xC3\x28", 1);
            unsetenv("CORECLR_PROFILERS");
            SyslogRecorder::Clear();
            Activation const activation = Activate(CLSID_CoreClrProfilerMultiplexer);
            std::vector<std::string> const texts = SyslogRecorder::Texts();
            bool const reported =
                std::find(texts.begin(), texts.end(),
                          "Profiler Multiplexer: ClassFactory: No profiler has been configure, exiting.") !=
                texts.end();
            std::exit(activation.hr == CORPROF_E_PROFILER_CANCEL_ACTIVATION && reported ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
