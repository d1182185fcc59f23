// Many runtime threads and the targets' own threads against one multiplexer at once: JIT compilation of
// overlapping methods with IL rewriting, the runtime's ReJIT callbacks, ReJIT and revert requests (also
// from inside JITCompilationStarted and GetReJITParameters), changing event masks, plain callbacks, the IL
// allocator and method display names. Run under ThreadSanitizer in CI; a watchdog fails a deadlock.
// PM_STRESS_MILLISECONDS sets how long the threads run (default 2000).
#include "LogCapture.h"
#include "RejitFakeFunctionControl.h"
#include "StressChecks.h"
#include "StressMethods.h"
#include "StressRandom.h"
#include "StressRuntime.h"
#include "StressTarget.h"
#include "StressWatchdog.h"
#include "TargetHarness.h"
#include "hosting/ProfilerMultiplexer.h"
#include "ilchain/IMetadataHelper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace profilermultiplexer::tests {
namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned AllTargets = (1u << StressMethods::TargetCount) - 1;

std::chrono::milliseconds StressDuration() {
    const char* value = std::getenv("PM_STRESS_MILLISECONDS");
    return std::chrono::milliseconds(value != nullptr ? std::atoi(value) : 2000);
}

class StressTest : public testing::Test, public TargetHarness<StressTarget, StressRuntime> {
protected:
    StressTest() : TargetHarness(methods) {
        for (std::size_t index = 0; index < StressMethods::TargetCount; ++index) {
            auto* target = new StressTarget(index, methods, checks);
            // The last target reverts the ReJIT call order: it gets ReJITCompilationStarted first.
            targets.push_back(&Add(target, target->Name(), index + 1 == StressMethods::TargetCount));
        }
        targets[1]->throwsOnClassLoad = true;
        Build();
    }

    // Runs every kind of worker on its own thread until the time is up, reporting to the watchdog.
    void RunWorkers(std::chrono::milliseconds duration, const std::function<void()>& midway = {}) {
        const std::vector<std::pair<const char*, std::function<void()>>> kinds = {
            {"JIT compilation", [this] { CompileOnce(); }},
            {"JIT compilation", [this] { CompileOnce(); }},
            {"JIT compilation", [this] { CompileOnce(); }},
            {"ReJIT callbacks", [this] { RejitOnce(); }},
            {"ReJIT callbacks", [this] { RejitOnce(); }},
            {"plain callbacks", [this] { PlainCallbackOnce(); }},
            {"plain callbacks", [this] { PlainCallbackOnce(); }},
            {"target 0 thread", [this] { TargetActs(0); }},
            {"target 1 thread", [this] { TargetActs(1); }},
            {"target 2 thread", [this] { TargetActs(2); }},
        };
        std::atomic<bool> stop{false};
        std::vector<std::thread> threads;
        for (std::size_t slot = 0; slot < kinds.size(); ++slot) {
            threads.emplace_back([&, slot] {
                while (!stop.load()) {
                    watchdog.Doing(slot, kinds[slot].first);
                    kinds[slot].second();
                    ++operations;
                }
                watchdog.Doing(slot, "done");
            });
        }
        std::this_thread::sleep_for(duration / 2);
        if (midway) {
            midway();
        }
        std::this_thread::sleep_for(duration / 2);
        stop = true;
        for (std::thread& thread : threads) {
            thread.join();
        }
    }

    void CompileOnce() {
        const StressMethod& method = methods.At(StressRandom(1000));
        const HRESULT hr = Multiplexer().JITCompilationStarted(method.functionId, TRUE);
        if (FAILED(hr) && expectSuccess) {
            checks.Fail("JITCompilationStarted failed");
        }
        if (StressChance(4)) {
            Multiplexer().ThreadCreated(StressRandom(8));
        }
        Multiplexer().JITCompilationFinished(method.functionId, S_OK, TRUE);
    }

    void RejitOnce() {
        if (const auto method = runtime.TakeRejit()) {
            RunRejit(method->first, method->second, std::nullopt);
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    }

    // One ReJIT as the runtime drives it; the IL it receives, when any, must be whole, and `expected`
    // when given.
    void RunRejit(ModuleID moduleId, mdMethodDef methodDef, std::optional<std::vector<BYTE>> expected) {
        const StressMethod* method = methods.Find(moduleId, methodDef);
        RejitFakeFunctionControl control;
        if (Multiplexer().GetReJITParameters(moduleId, methodDef, &control) != S_OK) {
            checks.Fail("GetReJITParameters did not return S_OK");
        }
        if (control.ilBody && (method == nullptr || !StressMethods::IsChainIL(*method, control.ilBody->data(),
                                                                              control.ilBody->size()))) {
            checks.Fail("the runtime received broken IL at a ReJIT");
        }
        if (expected && control.ilBody != expected) {
            checks.Fail("the runtime received other IL than the chain gives at a ReJIT");
        }
        if (method == nullptr) {
            return;
        }
        if (StressChance(8)) {
            Multiplexer().ReJITError(moduleId, methodDef, method->functionId, E_FAIL);
            return;
        }
        Multiplexer().ReJITCompilationStarted(method->functionId, 1, TRUE);
        Multiplexer().ReJITCompilationFinished(method->functionId, 1, S_OK, TRUE);
    }

    void PlainCallbackOnce() {
        ProfilerMultiplexer& multiplexer = Multiplexer();
        const StressMethod& method = methods.At(StressRandom(1000));
        switch (StressRandom(8)) {
        case 0: {
            multiplexer.ModuleLoadStarted(method.moduleId);
            const ModuleID fresh = StressTarget::FreshModules + freshModules++;
            multiplexer.ModuleLoadFinished(fresh, S_OK);
            // Never compiled: it may unload at once, while the other threads work on other modules.
            multiplexer.ModuleUnloadFinished(fresh, S_OK);
            break;
        }
        case 1:
            multiplexer.ClassLoadFinished(StressRandom(100), S_OK);
            break;
        case 2:
            multiplexer.ExceptionThrown(StressRandom(100));
            break;
        case 3: {
            int generations[] = {1, 0, 0};
            multiplexer.GarbageCollectionStarted(3, generations, COR_PRF_GC_INDUCED);
            multiplexer.GarbageCollectionFinished();
            break;
        }
        case 4: {
            BOOL inline_ = TRUE;
            multiplexer.JITInlining(method.functionId, method.functionId + 1, &inline_);
            break;
        }
        default:
            LookUpName(method);
            break;
        }
    }

    // The display name of a stress method, or the fallback name in a module without metadata.
    void LookUpName(const StressMethod& method) {
        const auto names = Multiplexer().GetMetadataHelper();
        if (!names) {
            return;
        }
        const std::string expected = "[Module] Type::M" + Hex(method.methodDef);
        if (names->GetMethodName(method.moduleId, method.methodDef) != expected) {
            checks.Fail("wrong display name " + expected);
        }
        const ModuleID unknown = 0x777000 + StressRandom(4);
        if (names->GetMethodName(unknown, method.methodDef) !=
            "(moduleId: 0x" + Hex(unknown) + ",methodId: 0x" + Hex(method.methodDef) + ")") {
            checks.Fail("wrong fallback name");
        }
    }

    void TargetActs(std::size_t index) {
        targets[index]->ActOnOwnThread();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }

    static std::string Hex(uint64_t value) {
        char text[24];
        std::snprintf(text, sizeof(text), "%llx", static_cast<unsigned long long>(value));
        return text;
    }

    // Handles every ReJIT the runtime still has to do; targets are quiet by now, but replays may add some.
    void DrainRejits() {
        for (int round = 0; round < 10000; ++round) {
            const auto method = runtime.TakeRejit();
            if (!method) {
                return;
            }
            RunRejit(method->first, method->second, std::nullopt);
        }
        checks.Fail("ReJIT requests kept coming after the targets stopped");
    }

    // The IL the runtime received last for the method at a JIT compilation.
    std::optional<std::vector<BYTE>> LastAppliedIL(const StressMethod& method) const {
        const auto applied = runtime.Applied();
        const auto last = std::find_if(applied.rbegin(), applied.rend(), [&](const auto& il) {
            return il.moduleId == method.moduleId && il.methodDef == method.methodDef;
        });
        return last == applied.rend() ? std::nullopt : std::make_optional(last->body);
    }

    // Every IL the runtime received at JIT compilation, or when a stress module loaded, must be whole.
    void CheckAppliedIL() {
        const std::vector<BYTE> fresh = {0x06, 0x2A};
        for (const auto& applied : runtime.Applied()) {
            const StressMethod* method = methods.Find(applied.moduleId, applied.methodDef);
            const bool whole = method != nullptr ? StressMethods::IsChainIL(*method, applied.body.data(),
                                                                            applied.body.size())
                                                 : applied.body == fresh;
            if (!whole) {
                checks.Fail("the runtime received broken IL at a JIT compilation");
                return;
            }
        }
    }

    // Static: the harness builds its runtime from them before this fixture's own members.
    static inline const StressMethods methods;
    StressChecks checks;
    std::vector<StressTarget*> targets;
    StressWatchdog watchdog{std::chrono::seconds(30)};
    std::atomic<long> operations{0};
    std::atomic<unsigned> freshModules{0};
    bool expectSuccess = true;
};

TEST_F(StressTest, EveryEntryAtOnceEndsWithTheChainsILAndNoAllocatorLeftovers) {
    std::optional<LogCapture> capture(std::in_place, "debug");
    ASSERT_EQ(Initialize(), S_OK);
    RunWorkers(StressDuration());

    // Quiet again: finish what the runtime was asked for, then compile and ReJIT every method once.
    capture.emplace("trace");
    for (StressTarget* target : targets) {
        target->quiet = true;
    }
    watchdog.Doing(0, "last ReJITs of the run");
    DrainRejits();
    CheckAppliedIL();
    // A target whose block still holds IL from a ReJIT reads that block, not the chain: the first compilation
    // settles every block (all are emptied at its end), the second one goes through the whole chain.
    for (const StressMethod& method : methods.All()) {
        watchdog.Doing(0, "last JIT compilations");
        for (int round = 0; round < 2; ++round) {
            EXPECT_EQ(Multiplexer().JITCompilationStarted(method.functionId, TRUE), S_OK);
            EXPECT_EQ(Multiplexer().JITCompilationFinished(method.functionId, S_OK, TRUE), S_OK);
        }
        EXPECT_EQ(LastAppliedIL(method), StressMethods::ChainIL(method, AllTargets));
    }
    // The first target's ReJIT: it reads the IL last given to the runtime and keeps it.
    for (const StressMethod& method : methods.All()) {
        watchdog.Doing(0, "last ReJIT");
        targets[0]->Request(method, 0, true);
        ASSERT_EQ(runtime.TakeRejit(), std::make_pair(method.moduleId, method.methodDef));
        RunRejit(method.moduleId, method.methodDef, StressMethods::ChainIL(method, AllTargets));
    }

    // What the targets took from the allocator and never set is all that is still recorded, in the
    // runtime's memory: one more byte makes a total of one.
    for (StressTarget* target : targets) {
        for (const auto& [piece, size] : target->KeptPieces()) {
            EXPECT_EQ(runtime.methodMalloc.SizeOf(piece), size);
            EXPECT_EQ(Multiplexer().TakeAllocationSize(piece), size);
        }
    }
    Multiplexer().Alloc(1);
    const auto messages = capture->Messages();
    const auto last = std::find_if(messages.rbegin(), messages.rend(), [](const std::string& message) {
        return message.rfind("Alloc with size: 1 in address", 0) == 0;
    });
    ASSERT_NE(last, messages.rend());
    EXPECT_NE(last->find("Total allocated memory: 1 bytes"), std::string::npos) << *last;

    EXPECT_EQ(checks.Failures(), 0) << checks.Report();
    EXPECT_GT(runtime.Requests(), 0);
    EXPECT_GT(targets[0]->RejitCallbacks() + targets[1]->RejitCallbacks(), 0);
    std::printf("stress: %ld operations, %d ReJIT requests, %d reverts, %zu JIT IL bodies applied\n",
                operations.load(), runtime.Requests(), runtime.Reverts(), runtime.Applied().size());
    EXPECT_EQ(Multiplexer().Shutdown(), S_OK);
}

TEST_F(StressTest, ShutdownWhileEveryEntryRuns) {
    ASSERT_EQ(Initialize(), S_OK);
    // After Shutdown the runtime's info object is gone: entries and requests fail, without harm.
    expectSuccess = false;
    RunWorkers(StressDuration() / 2, [this] { Multiplexer().Shutdown(); });
    EXPECT_GT(operations.load(), 0);
}

// IL read through a proxy outside the target's own JITCompilationStarted and GetReJITParameters, while
// other threads compile and clear the same methods' blocks: the header must stay readable (ASan) and the
// blocks must not be raced on (TSan).
TEST_F(StressTest, TargetsReadingILOnTheirOwnThreads) {
    for (StressTarget* target : targets) {
        target->readsILOnOwnThread = true;
    }
    ASSERT_EQ(Initialize(), S_OK);
    RunWorkers(StressDuration() / 2);
    EXPECT_EQ(checks.Failures(), 0) << checks.Report();
}

} // namespace
} // namespace profilermultiplexer::tests
