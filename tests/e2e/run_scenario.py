#!/usr/bin/env python3
"""Runs the end-to-end program under the profiler multiplexer with instances of the test target, and checks
the program's output and exit code, the targets' records and the multiplexer's log file.

    run_scenario.py --app App.dll --multiplexer TarnixClrProfilerMultiplexer.so \
                    --target e2e_test_target.so --work DIR [--preload LIBRARIES] SCENARIO [--show]

With --preload (the sanitizer runtimes, for a library built with AddressSanitizer) every run under the
multiplexer has them preloaded, and any report fails it.
"""

import argparse
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
from collections import Counter, defaultdict

MULTIPLEXER_CLSID = "{3BF080FE-7DEB-4051-AEF1-BD3AB01F1883}"
PASS_PHRASE = "E2E TARGET PASS"
RUN_TIMEOUT = 120
# The runtime leaks by design and handles its own faults (null references are SIGSEGV).
SANITIZER_ENVIRONMENT = {
    "ASAN_OPTIONS": "detect_leaks=0:handle_segv=0:handle_sigbus=0:handle_sigfpe=0:allow_user_segv_handler=1:"
                    "use_sigaltstack=0:detect_stack_use_after_return=0:halt_on_error=1",
    "UBSAN_OPTIONS": "print_stacktrace=1:halt_on_error=1",
}

# Event-mask bits (low word, then high word << 32).
MODULE_LOADS = 0x4
ASSEMBLY_LOADS = 0x8
JIT_COMPILATION = 0x20
EXCEPTIONS = 0x40
GC = 0x80
THREADS = 0x200
REJIT = 0x40000
HIGH_BASIC_GC = 0x10 << 32
OBJECT_ALLOCATED = 0x100
ENABLE_OBJECT_ALLOCATED = 0x800000
HIGH_LARGE_OBJECTS_ALLOCATED = 0x40 << 32
HIGH_PINNED_OBJECTS_ALLOCATED = 0x100 << 32
# Set by most IL rewriters; the runtime keeps it fixed after start-up.
DISABLE_ALL_NGEN_IMAGES = 0x80000000
E_FAIL = 0x80004005
CORPROF_E_REJIT_NOT_ENABLED = 0x8013137C
# Enter/leave events with arguments, return values and frames: what hooks with information need.
ENTER_LEAVE = 0x1000 | 0x2000000 | 0x4000000 | 0x8000000
ALWAYS = -1

# The mask bits that ask for each callback: a target may receive a callback only when its own mask shares
# a bit with these (ALWAYS: every target receives it).
CALLBACK_BITS = {
    "Initialize": ALWAYS,
    "Shutdown": ALWAYS,
    "AppDomainCreationStarted": 0x10,
    "AppDomainCreationFinished": 0x10,
    "AppDomainShutdownStarted": 0x10,
    "AppDomainShutdownFinished": 0x10,
    "AssemblyLoadStarted": ASSEMBLY_LOADS,
    "AssemblyLoadFinished": ASSEMBLY_LOADS,
    "AssemblyUnloadStarted": ASSEMBLY_LOADS,
    "AssemblyUnloadFinished": ASSEMBLY_LOADS,
    "ModuleLoadStarted": MODULE_LOADS,
    "ModuleLoadFinished": MODULE_LOADS,
    "ModuleUnloadStarted": MODULE_LOADS,
    "ModuleUnloadFinished": MODULE_LOADS,
    "ModuleAttachedToAssembly": MODULE_LOADS,
    "ClassLoadStarted": 0x2,
    "ClassLoadFinished": 0x2,
    "JITCompilationStarted": JIT_COMPILATION,
    "JITCompilationFinished": JIT_COMPILATION,
    "JITCachedFunctionSearchStarted": 0x20000,
    "JITCachedFunctionSearchFinished": 0x20000,
    "JITFunctionPitched": JIT_COMPILATION,
    "JITInlining": JIT_COMPILATION,
    "ThreadCreated": THREADS,
    "ThreadDestroyed": THREADS,
    "ThreadAssignedToOSThread": THREADS,
    "ThreadNameChanged": THREADS,
    "UnmanagedToManagedTransition": 0x800,
    "ManagedToUnmanagedTransition": 0x800,
    "RuntimeSuspendStarted": 0x10000,
    "RuntimeSuspendFinished": 0x10000,
    "RuntimeSuspendAborted": 0x10000,
    "RuntimeResumeStarted": 0x10000,
    "RuntimeResumeFinished": 0x10000,
    "RuntimeThreadSuspended": 0x10000,
    "RuntimeThreadResumed": 0x10000,
    "MovedReferences": GC,
    "ObjectAllocated": OBJECT_ALLOCATED | HIGH_LARGE_OBJECTS_ALLOCATED | HIGH_PINNED_OBJECTS_ALLOCATED,
    "ObjectsAllocatedByClass": GC,
    "ObjectReferences": GC,
    "RootReferences": GC,
    "RootReferences2": GC,
    "SurvivingReferences": GC,
    "FinalizeableObjectQueued": GC,
    "HandleCreated": GC,
    "HandleDestroyed": GC,
    "GarbageCollectionStarted": GC | HIGH_BASIC_GC,
    "GarbageCollectionFinished": GC | HIGH_BASIC_GC,
    "ConditionalWeakTableElementReferences": ALWAYS,
    "ExceptionCLRCatcherFound": 0x1000000,
    "ExceptionCLRCatcherExecute": 0x1000000,
    "MovedReferences2": 0x20 << 32,
    "SurvivingReferences2": 0x20 << 32,
    "ClassUnloadStarted": 0x2,
    "ClassUnloadFinished": 0x2,
    "FunctionUnloadStarted": 0x1,
    "COMClassicVTableCreated": 0x2000,
    "COMClassicVTableDestroyed": 0x2000,
    "InitializeForAttach": ALWAYS,
    "ProfilerAttachComplete": ALWAYS,
    "ProfilerDetachSucceeded": ALWAYS,
    "ReJITCompilationStarted": 0x40000,
    "GetReJITParameters": 0x40000,
    "ReJITCompilationFinished": 0x40000,
    "ReJITError": 0x40000,
    "GetAssemblyReferences": 0x1 << 32,
    "ModuleInMemorySymbolsUpdated": 0x2 << 32,
    "DynamicMethodJITCompilationStarted": 0x4 << 32,
    "DynamicMethodJITCompilationFinished": 0x4 << 32,
    "DynamicMethodUnloaded": 0x4 << 32,
}
for _name in ("RemotingClientInvocationStarted RemotingClientSendingMessage RemotingClientReceivingReply "
              "RemotingClientInvocationFinished RemotingServerReceivingMessage RemotingServerInvocationStarted "
              "RemotingServerInvocationReturned RemotingServerSendingReply").split():
    CALLBACK_BITS[_name] = 0x400
for _name in ("ExceptionThrown ExceptionSearchFunctionEnter ExceptionSearchFunctionLeave "
              "ExceptionSearchFilterEnter ExceptionSearchFilterLeave ExceptionSearchCatcherFound "
              "ExceptionOSHandlerEnter ExceptionOSHandlerLeave ExceptionUnwindFunctionEnter "
              "ExceptionUnwindFunctionLeave ExceptionUnwindFinallyEnter ExceptionUnwindFinallyLeave "
              "ExceptionCatcherEnter ExceptionCatcherLeave").split():
    CALLBACK_BITS[_name] = EXCEPTIONS

# Methods of the program whose JIT compilation every target with JIT_COMPILATION must see.
KNOWN_METHODS = ["E2E.App.Workload::Fibonacci", "E2E.App.Workload::SumOfProducts",
                 "E2E.App.Workload::ThrowAndCatch", "E2E.Lib.Calculator::Multiply", "E2E.Lib.Calculator::Checked"]

# The program's methods whose IL the targets rewrite.
IL_VALUE = "E2E.App.IlChain::Value"
IL_THROWN = "E2E.App.IlChain::Thrown"
# What the program prints of a throw in a method that may be rewritten: its stack trace names its line.
THROWN = "thrown at the line of the throw"
# Nops that two targets put in front of what they rewrite, each setting its IL map: the first more than a
# statement's length, so that the second's map alone names a later line.
IL_NOPS = (12, 3)
MANY_METHODS = "E2E.App.ManyMethods::M"
MANY_COUNT = 200
REJIT_VALUE = "E2E.App.RejitSteps::Value"
PLUGIN_METHODS = "E2E.Plugin.Plugin::M*"
PLUGIN_COUNT = 96
PLUGIN_ROUNDS = 50
# Native heap growth per plugin round allowed beyond that under one target alone (which varies by about
# 20 KB): what the multiplexer kept for one round's 96 methods when it kept them for good was over 100 KB.
PLUGIN_GROWTH_SLACK = 48 * 1024
# A plugin method never called, whose IL the reading target reads in the plugin's ModuleUnloadStarted.
PLUGIN_UNLOAD_READ = "E2E.Plugin.Plugin::Never"
# Freed memory is poisoned and not cached per thread: a use after free reads the poison; the heap figures
# have no thread cache in them.
POISONED_HEAP = {"MALLOC_PERTURB_": "85", "GLIBC_TUNABLES": "glibc.malloc.tcache_count=0"}
# The runtime hands out executable memory from a range it reserves at start-up, upward, never taking a freed
# range again: each collectible context's heaps (where its module ids lie) come after the last one's. Under a
# limited address space, InitialExecMemoryPercent=0 reserves no such range: the heaps are mapped where the
# kernel finds room, a range just freed, and a plugin module takes an unloaded one's id. The hard heap limit
# keeps the GC's reservation within the limit on any machine.
PLUGIN_ENVIRONMENT = {**POISONED_HEAP, "DOTNET_InitialExecMemoryPercent": "0",
                      "DOTNET_GCHeapHardLimit": "0x10000000"}
PLUGIN_ADDRESS_SPACE = 1 << 40
TIERING = (("tiered", "1"), ("not tiered", "0"))

LOG_LINE = re.compile(r"^\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\] \[(\w+)\] \[thread \d+\] (.*)$")
LEVELS = ["trace", "debug", "info", "warning", "error", "critical"]


class ScenarioFailure(Exception):
    pass


def require(condition, message):
    if not condition:
        raise ScenarioFailure(message)


class Record:
    """One line of a target's record file: seq, OS thread, kind (callback or call), name, details."""

    def __init__(self, line):
        seq, tid, kind, name, details = (line.split("\t") + [""])[:5]
        self.seq, self.tid, self.kind, self.name, self.details = int(seq), tid, kind, name, details

    def key(self):
        return self.tid, self.name, self.details

    def fields(self):
        """Details "Type::Method key=value ...": the method, then the values by key."""
        method, *pairs = self.details.split(" ")
        return method, dict(pair.split("=", 1) for pair in pairs if "=" in pair)


class TargetRecords:
    def __init__(self, path):
        self.path = path
        self.records, self.summary, self.verdicts = [], [], []
        if os.path.exists(path):
            with open(path, encoding="utf-8", errors="replace") as f:
                for line in f.read().splitlines():
                    if line[:1].isdigit():
                        self.records.append(Record(line))
                    elif line.startswith("SUMMARY"):
                        self.summary.append(line)
                    elif line:
                        self.verdicts.append(line)
        self.records.sort(key=lambda r: r.seq)

    def callbacks(self, name=None):
        return [r for r in self.records if r.kind == "callback" and (name is None or r.name == name)]

    def calls(self, name):
        return [r for r in self.records if r.kind == "call" and r.name == name]

    def names(self):
        return Counter(r.name for r in self.callbacks())

    def passed(self):
        return self.verdicts == [PASS_PHRASE]

    def describe(self):
        listing = ", ".join(f"{name} x{count}" for name, count in sorted(self.names().items()))
        return f"{len(self.callbacks())} callbacks: {listing}"


class Target:
    """One configured instance of the test target: its multiplexer name, class id number and settings."""

    def __init__(self, name, number, priority, mask_low=0, mask_high=0, revert_rejit_call_order=False, **options):
        self.name, self.number, self.priority = name, number, priority
        self.revert_rejit_call_order = revert_rejit_call_order
        self.mask = mask_high << 32 | mask_low
        self.settings = {"MASK_LOW": hex(mask_low), "MASK_HIGH": hex(mask_high)}
        self.settings.update({key.upper(): str(value) for key, value in options.items()})
        self.clsid = "{A0000000-0000-0000-0000-%012X}" % number
        self.records = None

    def environment(self, prefix, library, out):
        env = {f"E2E_TARGET_{self.number}_{key}": value for key, value in self.settings.items()}
        env[f"E2E_TARGET_{self.number}_OUT"] = out
        env[f"{prefix}{self.name}_PROFILER_PATH"] = library
        env[f"{prefix}{self.name}_PROFILER"] = self.clsid
        env[f"{prefix}{self.name}_PRIORITY"] = str(self.priority)
        if self.revert_rejit_call_order:
            env[f"{prefix}{self.name}_REVERT_REJIT_CALL_ORDER"] = "1"
        return env


class Run:
    def __init__(self, returncode, stdout, stderr, pid, log_path):
        self.returncode, self.stdout, self.stderr, self.pid = returncode, stdout, stderr, pid
        self.log_path = log_path
        self.log_lines = []
        if log_path and os.path.exists(log_path):
            with open(log_path, encoding="utf-8", errors="replace") as f:
                self.log_lines = f.read().splitlines()

    def log_messages(self, level=None):
        messages = []
        for line in self.log_lines:
            match = LOG_LINE.match(line)
            if match and (level is None or match.group(1) == level):
                messages.append(match.group(2))
        return messages

    def require_log(self, text):
        require(any(text in m for m in self.log_messages()), f"log line missing: {text!r} in {self.log_path}")

    def require_no_log(self, text):
        require(not any(text in m for m in self.log_messages()), f"unexpected log line: {text!r}")


class Driver:
    def __init__(self, args):
        self.app, self.multiplexer = os.path.abspath(args.app), os.path.abspath(args.multiplexer)
        self.library, self.work = os.path.abspath(args.target), os.path.abspath(args.work)
        self.show = args.show
        self.preload = args.preload
        self._baseline = None

    def clean_environment(self):
        """The caller's environment without any profiler, multiplexer or test target setting."""
        prefixes = ("CORECLR_", "COR_", "E2E_TARGET_", "Tarnix_Agent_", "FORCE_PROFILER_MULTIPLEXER", "LD_PRELOAD",
                    "ASAN_OPTIONS", "UBSAN_OPTIONS")
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(prefixes) and not (k.startswith("DOTNET_") and "PROFIL" in k)}
        env["DOTNET_DbgEnableMiniDump"] = "0"
        return env

    def execute(self, env, exit_code=0, program=("workload",), address_space=None, file_size=None):
        command = ["dotnet", self.app, program[0], str(exit_code), *program[1:]]
        return self.spawn(command, env, RUN_TIMEOUT, address_space, file_size)

    @staticmethod
    def spawn(command, env, timeout, address_space=None, file_size=None):
        """Runs the command in a session of its own, without core dumps and within the address space and the
        file size given (SIGXFSZ at its default); kills it after timeout seconds."""
        def limits():
            resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
            if address_space is not None:
                resource.setrlimit(resource.RLIMIT_AS, (address_space, address_space))
            if file_size is not None:
                signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
                resource.setrlimit(resource.RLIMIT_FSIZE, (file_size, resource.RLIM_INFINITY))

        process = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                   preexec_fn=limits, start_new_session=True)
        try:
            stdout, stderr = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.communicate()
            raise ScenarioFailure(f"the program hung: no exit within {timeout} s")
        return process.returncode, stdout, stderr, process.pid

    def baseline(self):
        if self._baseline is None:
            returncode, stdout, stderr, _ = self.execute(self.clean_environment())
            require(returncode == 0, f"the program fails without a profiler: {returncode}\n{stderr}")
            self._baseline = stdout, stderr
        return self._baseline

    def run(self, targets, exit_code=0, extra=None, log_folder=True, log_level="info", direct=False,
            program=("workload",), output=None, address_space=None, file_size=None):
        """Runs the program under the multiplexer, or with direct=True under the one target alone; returns
        the run, with the targets' records read back. program is the program's scenario and its arguments;
        output is its expected output, by default that of a run without profiler; address_space limits the
        program's address space, file_size the size of any file it writes (bytes)."""
        logs = os.path.join(self.work, "logs")
        os.makedirs(logs, exist_ok=True)
        env = self.clean_environment()
        env.update({"CORECLR_ENABLE_PROFILING": "1", "CORECLR_PROFILER": MULTIPLEXER_CLSID,
                    "CORECLR_PROFILER_PATH": self.multiplexer, "Tarnix_Agent_LogLevel": log_level})
        if direct:
            env.update({"CORECLR_PROFILER": targets[0].clsid, "CORECLR_PROFILER_PATH": self.library})
        if self.preload:
            env.update(SANITIZER_ENVIRONMENT, LD_PRELOAD=self.preload)
        if log_folder:
            env["Tarnix_Agent_LogsFolder"] = logs
        if targets:
            env["CORECLR_PROFILERS"] = ";".join(t.name for t in targets)
        for target in targets:
            out = os.path.join(self.work, f"target_{target.name}.txt")
            if os.path.exists(out):
                os.remove(out)
            env.update(target.environment("CORECLR_", self.library, out))
        env.update(extra or {})
        returncode, stdout, stderr, pid = self.execute(env, exit_code, program, address_space, file_size)
        log_path = self.log_path(env, pid)
        run = Run(returncode, stdout, stderr, pid, log_path)
        for target in targets:
            target.records = TargetRecords(os.path.join(self.work, f"target_{target.name}.txt"))
        self.check_exit(run, exit_code, output)
        if self.show:
            self.describe(run, targets)
        return run

    def log_path(self, env, pid):
        name = f"profiler_multiplexer{pid}.log"
        if env.get("Tarnix_Agent_LogsFolder"):
            return os.path.join(env["Tarnix_Agent_LogsFolder"], name)
        if env.get("CORECLR_PROFILER_HOME"):
            return os.path.join(env["CORECLR_PROFILER_HOME"], "Tarnix", "Logs", name)
        return os.path.join(env.get("TMPDIR", "/tmp"), "Tarnix", "Logs", name)

    def check_exit(self, run, exit_code, output):
        if run.returncode < 0:
            raise ScenarioFailure(f"the program died of signal {-run.returncode}\n{run.stderr}")
        require(run.returncode == exit_code, f"exit code {run.returncode}, expected {exit_code}\n{run.stderr}")
        if output is not None:
            require(run.stdout == output, f"the program's output:\n{run.stdout}\nexpected:\n{output}")
            require(run.stderr == "", f"the program's error output:\n{run.stderr}")
            return
        stdout, stderr = self.baseline()
        expected = stdout.replace("exit code 0", f"exit code {exit_code}")
        require(run.stdout == expected, f"the program's output changed:\n{run.stdout}\nexpected:\n{expected}")
        require(run.stderr == stderr, f"the program's error output changed:\n{run.stderr}")

    def describe(self, run, targets):
        print("program output:")
        print("".join(f"  {line}\n" for line in run.stdout.splitlines()), end="")
        print(f"program exit code: {run.returncode}")
        if os.path.exists(run.log_path):
            print(f"multiplexer log: {run.log_path} ({len(run.log_lines)} lines)")
        for target in sorted(targets, key=lambda t: t.priority):
            records = target.records
            verdict = " ".join(records.verdicts) or "no verdict"
            print(f"target {target.name} (priority {target.priority}, mask {target.mask:#x}): {records.path}")
            print(f"  {verdict}; {len(records.callbacks())} callbacks received:")
            for name, count in sorted(records.names().items()):
                print(f"    {name:<32} {count}")
            known = [m for m in KNOWN_METHODS if m in jitted_methods(target)]
            if known:
                print(f"  JIT compilation seen of: {', '.join(known)}")


# Checks on one target's records.

def check_mask_respected(target, mask=None):
    mask = target.mask if mask is None else mask
    for record in target.records.callbacks():
        bits = CALLBACK_BITS.get(record.name)
        require(bits is not None, f"{target.name}: unexpected callback {record.name}")
        require(bits == ALWAYS or bits & mask, f"{target.name} received {record.name} outside its mask {mask:x}")


def check_lifecycle(target):
    records = target.records
    require(records.passed(), f"{target.name}: no pass phrase; verdicts {records.verdicts} {records.summary}")
    callbacks = records.callbacks()
    require(callbacks and callbacks[0].name == "Initialize", f"{target.name}: Initialize is not the first callback")
    require(len(records.callbacks("Initialize")) == 1, f"{target.name}: Initialize more than once")
    require(len(records.callbacks("Shutdown")) == 1, f"{target.name}: Shutdown count is not 1")


def check_served(target):
    """The target passed, received only callbacks of its mask and saw the program's known methods compiled."""
    check_lifecycle(target)
    check_mask_respected(target)
    check_known_methods(target)


def check_info_object(target, version, answer, what):
    """The target's first QueryInterface on its info object asked for ICorProfilerInfo<version> and was
    answered with the same object or another one (answer "same" or "other")."""
    query = target.records.calls("QueryInterface")
    require(query and query[0].details == f"ICorProfilerInfo{version} hr=0x0 object={answer}", f"{what}: {query}")


def check_received(target, *names):
    received = target.records.names()
    for name in names:
        require(received[name] > 0, f"{target.name} did not receive {name}; {target.records.describe()}")


def jitted_methods(target):
    return {r.details for r in target.records.callbacks("JITCompilationStarted")}


def check_known_methods(target):
    missing = [m for m in KNOWN_METHODS if m not in jitted_methods(target)]
    require(not missing, f"{target.name}: no JITCompilationStarted for {missing}")


def check_order(first, second, names):
    """Every event both targets received reached the first (lower priority) target before the second."""
    events_first, events_second = defaultdict(list), defaultdict(list)
    for target, events in ((first, events_first), (second, events_second)):
        for record in target.records.callbacks():
            if record.name in names:
                events[record.key()].append(record.seq)
    require(events_first.keys() == events_second.keys(), "the two targets received different shared events")
    for key, seqs in events_first.items():
        require(len(seqs) == len(events_second[key]), f"different counts of shared event {key}")
        for seq_first, seq_second in zip(seqs, events_second[key]):
            require(seq_first < seq_second, f"{key}: {second.name} was called before {first.name}")


# Scenarios.

def direct_target(driver):
    """The test target loaded by the runtime itself, without the multiplexer: the reference behaviour."""
    target = Target("direct", 1, 1, MODULE_LOADS | ASSEMBLY_LOADS | JIT_COMPILATION | EXCEPTIONS | THREADS,
                    0x10, use_seteventmask2=1, info_version=11)
    driver.run([target], direct=True)
    check_served(target)
    check_received(target, "ModuleLoadFinished", "AssemblyLoadFinished", "ExceptionThrown", "ThreadCreated",
                   "GarbageCollectionStarted")
    check_info_object(target, 11, "same", "info object")


def two_targets(driver):
    """Both targets are served; the first asks to be detached on the way, which is refused while the second
    is served."""
    first = Target("e2e_1", 1, 1, MODULE_LOADS | ASSEMBLY_LOADS | JIT_COMPILATION | EXCEPTIONS, detach_after_jit=10)
    second = Target("e2e_2", 2, 2, JIT_COMPILATION | THREADS, 0x10, use_seteventmask2=1)
    # Listed in reverse: the order of calls follows the priorities, not the list.
    run = driver.run([second, first], log_level="trace")
    for target in (first, second):
        check_served(target)
    require([r.details for r in first.records.calls("RequestProfilerDetach")] == ["detach hr=0x80004005"],
            f"e2e_1's detach request was not refused: {first.records.calls('RequestProfilerDetach')}")
    run.require_log("TargetProfilerProxy::RequestProfilerDetach, e2e_1 asked to be detached, but a target cannot be "
                    "detached alone while other targets are served")
    check_received(first, "ModuleLoadFinished", "AssemblyLoadFinished", "ExceptionThrown", "ExceptionCatcherEnter")
    check_received(second, "ThreadCreated", "GarbageCollectionStarted", "GarbageCollectionFinished")
    require("Lib" in {r.details for r in first.records.callbacks("AssemblyLoadFinished")},
            "no AssemblyLoadFinished for the library")
    check_order(first, second, {"JITCompilationStarted", "JITCompilationFinished", "JITInlining"})
    run.require_log("Profiler Multiplexer: Initialization succeeded")
    run.require_log(f"Callback functions for e2e_1, mask: {first.mask:x}")
    run.require_log(f"Callback functions for e2e_2, mask: {second.mask:x}")
    run.require_log(f"Callback functions for all, mask: {first.mask | second.mask:x}")


def mask_change(driver):
    new_mask = MODULE_LOADS | JIT_COMPILATION | EXCEPTIONS
    first = Target("e2e_1", 1, 1, MODULE_LOADS, new_mask_on_moduleload=hex(new_mask))
    second = Target("e2e_2", 2, 2, THREADS)
    run = driver.run([first, second], log_level="trace")
    for target in (first, second):
        check_lifecycle(target)
    # The first mask is set in Initialize, the second from the first ModuleLoadFinished.
    changes = first.records.calls("SetEventMask")
    require(len(changes) == 2 and changes[1].details.endswith("hr=0x0"), "the mask was not changed")
    before = [r for r in first.records.callbacks() if r.seq < changes[1].seq]
    after = [r for r in first.records.callbacks() if r.seq > changes[1].seq]
    require(all(r.name != "JITCompilationStarted" for r in before), "JIT callbacks before the mask change")
    check_mask_respected(first, new_mask)
    require({"JITCompilationStarted", "ExceptionThrown"} <= {r.name for r in after},
            "the new mask's callbacks did not arrive")
    check_known_methods(first)
    check_mask_respected(second)
    run.require_log(f"Callback functions for e2e_1, mask: {new_mask:x}")
    run.require_log(f"Callback functions for all, mask: {new_mask | THREADS:x}")

    # A change that drops a flag the runtime keeps fixed after start-up: the first target gets the runtime's
    # error and keeps its mask (its test target checks both), and the second's later added events arrive.
    refused = Target("e2e_1", 1, 1, MODULE_LOADS | DISABLE_ALL_NGEN_IMAGES, new_mask_on_moduleload=hex(MODULE_LOADS),
                     new_mask_result=hex(E_FAIL))
    added = MODULE_LOADS | THREADS | ASSEMBLY_LOADS
    adding = Target("e2e_2", 2, 2, MODULE_LOADS | THREADS, new_mask_on_moduleload=hex(added))
    run = driver.run([refused, adding])
    for target in (refused, adding):
        check_lifecycle(target)
    check_mask_respected(refused)
    check_mask_respected(adding, added)
    change = adding.records.calls("SetEventMask")[-1]
    require(change.details == f"low={added:#x} high=0x0 hr=0x0", f"the second target's change: {change.details}")
    loads = [r for r in adding.records.callbacks("AssemblyLoadFinished") if r.seq > change.seq]
    require(loads, f"no assembly load reached the second target after its change; {adding.records.describe()}")
    run.require_log(f"the runtime refused the union of the event masks with e2e_1's new mask {MODULE_LOADS:#x}")


def single_target(driver):
    target = Target("e2e_1", 1, 1, MODULE_LOADS | JIT_COMPILATION, info_version=11)
    run = driver.run([target])
    check_served(target)
    run.require_log("ClassFactory: A single profiler has detected, the multiplexer profiler will transfer direct "
                    "control to the e2e_1 profiler!")
    run.require_no_log("Profiler Multiplexer: Initialization succeeded")
    # The runtime's own info object answers every version with itself.
    check_info_object(target, 11, "same", "direct info object")


def single_target_forced(driver):
    target = Target("e2e_1", 1, 1, MODULE_LOADS | JIT_COMPILATION, info_version=10)
    run = driver.run([target], extra={"FORCE_PROFILER_MULTIPLEXER": "True"})
    check_served(target)
    run.require_no_log("A single profiler has detected")
    run.require_log("Profiler Multiplexer: Initialization succeeded")
    check_info_object(target, 10, "same", "proxy")


def no_target(driver):
    run = driver.run([])
    run.require_log("ClassFactory: No profiler has been configure, exiting.")


def broken_targets(driver):
    missing = Target("missing", 1, 1, JIT_COMPILATION)
    bad_clsid = Target("bad_clsid", 2, 2, JIT_COMPILATION)
    unknown_clsid = Target("unknown_clsid", 0xFF, 3, JIT_COMPILATION)
    disabled = Target("disabled", 4, 4, JIT_COMPILATION)
    extra = {"CORECLR_missing_PROFILER_PATH": "/nonexistent/e2e_test_target.so",
             "CORECLR_bad_clsid_PROFILER": "A0000000-0000-0000-0000-000000000002",
             "CORECLR_disabled_ENABLE_PROFILING": "0"}
    targets = [missing, bad_clsid, unknown_clsid, disabled]
    run = driver.run(targets, extra=extra)
    for target in targets:
        require(not target.records.records, f"{target.name} was created")
    run.require_log("Can't load profiler library from: /nonexistent/e2e_test_target.so")
    run.require_log("TargetProfilerFactory::CreateProfiler, Error converting IID to string. "
                    "IID: A0000000-0000-0000-0000-000000000002")
    run.require_log("ClassFactory::CreateInstance: Error creating profiler: unknown_clsid")
    run.require_log("TargetProfilerFactory: CORECLR_disabled_ENABLE_PROFILING environment variable is set to zero, "
                    "disabled will be skipped")
    run.require_log("Profiler Multiplexer: Initialization failed, no target profiler is found or configured")

    # The multiplexer named as one of its own targets is refused; the other target is served.
    own, served = Target("self", 5, 1, JIT_COMPILATION), Target("e2e_6", 6, 2, JIT_COMPILATION)
    run = driver.run([own, served], extra={"CORECLR_self_PROFILER_PATH": driver.multiplexer,
                                           "CORECLR_self_PROFILER": MULTIPLEXER_CLSID})
    check_served(served)
    run.require_log("TargetProfilerFactory::CreateProfiler, self has the class id of the profiler multiplexer itself")

    # A rewriting target listed twice is loaded once: the program prints what it prints with it listed once.
    first, second = il_targets("add 10", "mul 2")
    run = run_program(driver, [first, second], {"CORECLR_PROFILERS": "e2e_1;e2e_2;e2e_1"}, "ilchain",
                      ["value = 22", "value after warm-up = 22", THROWN])
    run.require_log("TargetProfilerFactory: e2e_1 has the same profiler path and class id as e2e_1, it will be "
                    "skipped")


def failed_initialize(driver):
    failing = Target("e2e_1", 1, 1, MODULE_LOADS | EXCEPTIONS, init_result="0x80004005")
    working = Target("e2e_2", 2, 2, JIT_COMPILATION)
    run = driver.run([failing, working], log_level="trace")
    require([r.name for r in failing.records.callbacks()] == ["Initialize"],
            f"a failed target was called again: {failing.records.describe()}")
    check_served(working)
    run.require_log("ProfilerMultiplexer: Error initializing a profiler: e2e_1")
    run.require_log(f"Callback functions for all, mask: {working.mask:x}")


def declining(name, number, **options):
    """A target that keeps its info object and declines in Initialize."""
    return Target(name, number, number, MODULE_LOADS | JIT_COMPILATION, init_result="0x80004005", **options)


def check_declined(target):
    """Only Initialize reached the target, and it kept its info object: its first call on it asked for it."""
    require([r.name for r in target.records.callbacks()] == ["Initialize"],
            f"a declining target was called again: {target.records.describe()}")
    require(target.records.calls("SetEventMask"), f"{target.name} did not use its info object")


def check_released(target):
    """The target's last Release came, and it released its info object then."""
    require(target.records.calls("Release"), f"{target.name} was not released")


def decline_all(driver):
    """Every target declines, keeping its info object: the multiplexer steps aside, and releases each target
    (which releases its info object) while that object is still alive: freed memory is poisoned, so a release
    of a freed one crashes."""
    targets = [declining("e2e_1", 1), declining("e2e_2", 2)]
    run = driver.run(targets, log_level="trace", extra=POISONED_HEAP)
    for target in targets:
        check_declined(target)
        check_released(target)
    run.require_log("ProfilerMultiplexer: Error initializing a profiler: e2e_2")
    run.require_log("Profiler Multiplexer: Initialization failed, no target profiler is found or configured")


def decline_one(driver):
    """The first of two targets declines, keeping its info object and reading IL through it from a thread it
    started, while the second works and does the same: the multiplexer goes on with the second one."""
    failing = declining("e2e_1", 1, proxy_thread_ms=300)
    working = Target("e2e_2", 2, 2, JIT_COMPILATION, proxy_thread_ms=300)
    run = driver.run([failing, working], log_level="trace", extra=POISONED_HEAP)
    check_declined(failing)
    check_served(working)
    run.require_log("ProfilerMultiplexer: Error initializing a profiler: e2e_1")
    run.require_log(f"Callback functions for all, mask: {working.mask:x}")


def init_thread(driver):
    """A target reads IL through its proxy from its own thread, started in its Initialize, while the targets
    after it are being initialised (each one taking its time): nothing changes for the program or them."""
    reader = Target("e2e_2", 2, 2, JIT_COMPILATION, proxy_thread_ms=1000)
    targets = [Target("e2e_1", 1, 1, JIT_COMPILATION, il_methods=KNOWN_METHODS[0], il_rewrite="read", il_expect=1),
               reader] + [Target(f"e2e_{n}", n, n, JIT_COMPILATION | THREADS, init_delay_ms=50) for n in (3, 4, 5)]
    for _ in range(2):
        driver.run(targets, log_level="info", extra=POISONED_HEAP)
        for target in targets:
            check_served(target)
        (reads,) = reader.records.calls("ReadILFromThread")
        require(int(reads.fields()[1]["calls"]) > 0, f"no IL read from the thread: {reads.details}")


def newer_info(driver):
    newer = Target("e2e_1", 1, 1, JIT_COMPILATION, info_version=11)
    gated = Target("e2e_2", 2, 2, JIT_COMPILATION, info_version=10)
    run = driver.run([newer, gated], log_level="debug")
    for target in (newer, gated):
        check_lifecycle(target)
    # A version the proxy does not implement is the runtime's to answer, with its own object.
    check_info_object(newer, 11, "other", "newer version")
    check_info_object(gated, 10, "same", "proxy version")
    run.require_log("TargetProfilerProxy::QueryInterface fallback to default QueryInterface, hr =0")
    run.require_log("TargetProfilerProxy::QueryInterface, the runtime granted e2e_1 its own ICorProfilerInfo11: "
                    "event masks and IL set through that object bypass the multiplexer")


def log_file(run, level):
    require(os.path.exists(run.log_path), f"no log file at {run.log_path}")
    require(os.path.basename(run.log_path) == f"profiler_multiplexer{run.pid}.log", "log file name")
    for line in run.log_lines:
        match = LOG_LINE.match(line)
        require(match, f"log line out of pattern: {line!r}")
        require(LEVELS.index(match.group(1)) >= LEVELS.index(level), f"line below level {level}: {line!r}")


LOG_FILE_SIZE_LIMIT = 16 * 1024


def log_folder(driver):
    target = Target("e2e_1", 1, 1, JIT_COMPILATION)
    run = driver.run([target, Target("e2e_2", 2, 2, THREADS)], log_level="TRACE")
    log_file(run, "trace")
    require(os.path.dirname(run.log_path) == os.path.join(driver.work, "logs"), "log folder")
    run.require_log(f"Callback functions for e2e_1, mask: {target.mask:x}")
    require("JITCompilationStarted" in run.log_messages("trace"), "no listing of the target's callbacks")
    # Under a file-size limit, SIGXFSZ at its default, the log rotates before it would cross the limit: the
    # program runs to its end. (The runtime's double mapping of code needs a larger file: it is turned off.)
    run = driver.run([target, Target("e2e_2", 2, 2, THREADS)], log_level="trace",
                     extra={"DOTNET_EnableWriteXorExecute": "0"}, file_size=LOG_FILE_SIZE_LIMIT)
    log_file(run, "trace")
    folder = os.path.dirname(run.log_path)
    files = [name for name in os.listdir(folder) if name.startswith(f"profiler_multiplexer{run.pid}.")]
    require(f"profiler_multiplexer{run.pid}.1.log" in files, f"no rotation under the file-size limit: {files}")
    sizes = {name: os.path.getsize(os.path.join(folder, name)) for name in files}
    require(max(sizes.values()) <= LOG_FILE_SIZE_LIMIT, f"log files past the limit {LOG_FILE_SIZE_LIMIT}: {sizes}")


def log_home(driver):
    home = os.path.join(driver.work, "home")
    os.makedirs(home, exist_ok=True)
    run = driver.run([Target("e2e_1", 1, 1, JIT_COMPILATION), Target("e2e_2", 2, 2, THREADS)],
                     log_folder=False, extra={"CORECLR_PROFILER_HOME": home}, log_level="debug")
    log_file(run, "debug")
    require(os.path.dirname(run.log_path) == os.path.join(home, "Tarnix", "Logs"), "log folder under the home")
    require(run.log_messages("debug"), "no debug line at level debug")
    require(oct(os.stat(os.path.join(home, "Tarnix")).st_mode & 0o777) == "0o777", "Tarnix folder permissions")


def log_temp(driver):
    temp = os.path.join(driver.work, "tmp")
    os.makedirs(temp, exist_ok=True)
    run = driver.run([Target("e2e_1", 1, 1, JIT_COMPILATION), Target("e2e_2", 2, 2, THREADS)],
                     log_folder=False, extra={"TMPDIR": temp}, log_level="warn")
    require(os.path.dirname(run.log_path) == os.path.join(temp, "Tarnix", "Logs"), "log folder under TMPDIR")
    require(os.path.exists(run.log_path), f"no log file at {run.log_path}")
    log_file(run, "warning")
    require(not os.path.exists(os.path.join(temp, "Tarnix", "Logs", "testFile")), "probe file left behind")


def exit_code(driver):
    first = Target("e2e_1", 1, 1, JIT_COMPILATION | EXCEPTIONS)
    second = Target("e2e_2", 2, 2, MODULE_LOADS | THREADS, 0x10, use_seteventmask2=1)
    driver.run([first, second], exit_code=7)
    for target in (first, second):
        check_lifecycle(target)


# IL chain and ReJIT scenarios.

def program_output(scenario, lines, exit_code=0):
    return "".join(f"{line}\n" for line in [f"scenario {scenario}", *lines, f"exit code {exit_code}"])


def run_program(driver, targets, extra, scenario, lines, arguments=(), **options):
    """Runs one of the program's scenarios at log level trace, expecting its output lines; every target
    passes."""
    run = driver.run(targets, log_level="trace", extra=extra, program=[scenario, *arguments],
                     output=program_output(scenario, lines), **options)
    for target in targets:
        check_lifecycle(target)
    return run


def il_targets(first_rewrite, second_rewrite, methods=IL_VALUE, expect=1, nops=(0, 0)):
    """Two targets rewriting the methods at JIT compilation, in this order, each putting its number of nops in
    front."""
    return [Target(f"e2e_{number}", number, number, JIT_COMPILATION, il_methods=methods, il_rewrite=rewrite,
                   il_expect=expect, il_nops=count)
            for number, rewrite, count in ((1, first_rewrite, nops[0]), (2, second_rewrite, nops[1]))]


def for_each_tiering(check):
    """Runs check(extra environment, tiered) with tiered compilation on, then off; failures name the mode."""
    for mode, value in TIERING:
        try:
            check({"DOTNET_TieredCompilation": value}, value == "1")
        except ScenarioFailure as failure:
            raise ScenarioFailure(f"[{mode}] {failure}") from None


def il_calls(target, name, method):
    """The target's calls of that name for the method, as (method, fields) pairs, in order."""
    calls = [r.fields() for r in target.records.calls(name)]
    return [fields for called, fields in calls if called == method]


def only_rewrite(target, method):
    rewrites = il_calls(target, "SetILFunctionBody", method)
    require(len(rewrites) == 1, f"{target.name}: {len(rewrites)} rewrites of {method} at JIT, expected 1")
    require(rewrites[0]["hr"] == "0x0", f"{target.name}: SetILFunctionBody of {method}: {rewrites[0]['hr']}")
    return rewrites[0]


def il_size(hex_text):
    return len(hex_text) // 2


def display_name(method):
    return f"[App.dll] {method}"


def check_il_log(run, method, applied):
    """The runtime received IL for the method the given number of times, and every body came from the
    proxies' allocator."""
    given = [m for m in run.log_messages("trace")
             if m.startswith("ProfilerMultiplexer::SetILFunctionBody: real SetILFunctionBody was called for "
                             f"{display_name(method)}")]
    require(len(given) == applied, f"IL given to the runtime {len(given)} times for {method}, expected {applied}")
    run.require_no_log("Can't find allocation size for")


def check_compilations(target, method, tiered):
    """Tiered compilation compiles the method again, from the IL already set; without it, once."""
    count = sum(1 for r in target.records.callbacks("JITCompilationStarted") if r.details == method)
    require(count >= 2 if tiered else count == 1, f"{method} compiled {count} times")


def run_il_chain(driver, first_rewrite, second_rewrite, value, check, nops=(0, 0), second_at_load=False):
    """Runs the IL chain program with tiered compilation on, then off, under two targets rewriting its
    method (with nops, its throwing method too; the second one while the module loads, with second_at_load);
    it must print value. check(run, first, second) adds the scenario's own checks."""
    def each(extra, tiered):
        methods, expect = (f"{IL_VALUE},{IL_THROWN}", 2) if any(nops) else (IL_VALUE, 1)
        first, second = il_targets(first_rewrite, second_rewrite, methods, expect, nops)
        if second_at_load:
            second = Target("e2e_2", 2, 2, JIT_COMPILATION | MODULE_LOADS, il_methods=IL_VALUE,
                            il_rewrite=second_rewrite, il_expect=1, il_at_load=1)
        run = run_program(driver, [first, second], extra, "ilchain",
                          [f"value = {value}", f"value after warm-up = {value}", THROWN])
        check(run, first, second)
        check_il_log(run, IL_VALUE, 2 if second_at_load else 1)
        check_compilations(first, IL_VALUE, tiered)
    for_each_tiering(each)


def il_chain(driver):
    """The second target rewrites the IL the first one left: (1 + 10) x 2. Both put nops in front and set
    their IL maps: the stack trace of a throw in the rewritten method names its line, as without a
    profiler."""
    def check(run, first, second):
        rewritten = only_rewrite(first, IL_VALUE)
        require(only_rewrite(second, IL_VALUE)["read"] == rewritten["wrote"], "e2e_2 did not read e2e_1's IL")
        run.require_log(f"ProfilerMultiplexer::GetILFunctionBodyForProxy, found IL of size: "
                        f"{il_size(rewritten['wrote'])} from e2e_1 for {display_name(IL_VALUE)}")
        for target in (first, second):
            maps = il_calls(target, "SetILInstrumentedCodeMap", IL_THROWN)
            require(len(maps) == 1 and maps[0]["hr"] == "0x0", f"{target.name}: IL maps of {IL_THROWN}: {maps}")
        run.require_log(f"ProfilerMultiplexer::JITCompilationStarted, setting IL code map for "
                        f"{display_name(IL_THROWN)}, composed of the maps of 2 profilers")
    run_il_chain(driver, "add 10", "mul 2", 22, check, IL_NOPS)

    def check_at_load(run, first, second):
        rewritten = only_rewrite(second, IL_VALUE)
        require(only_rewrite(first, IL_VALUE)["read"] == rewritten["wrote"],
                "e2e_1 did not rewrite the IL e2e_2 set at module load")
    # The second target's rewrite at module load is where the first one's at JIT starts: 1 x 2 + 10.
    run_il_chain(driver, "add 10", "mul 2", 12, check_at_load, second_at_load=True)


def il_first_only(driver):
    """Only the first target rewrites; the second reads the rewrite and leaves it."""
    def check(run, first, second):
        rewritten = only_rewrite(first, IL_VALUE)
        reads = il_calls(second, "GetILFunctionBody", IL_VALUE)
        require([r["read"] for r in reads] == [rewritten["wrote"]], f"e2e_2 read {reads}")
        require(not second.records.calls("SetILFunctionBody"), "e2e_2 set IL")
    run_il_chain(driver, "add 10", "read", 11, check)


def il_guard(driver):
    """The first target puts a try/catch in front of the body (a fat header with an exception section);
    the second target's rewrite moves that section behind its longer code."""
    def check(run, first, second):
        guarded = only_rewrite(first, IL_VALUE)
        chained = only_rewrite(second, IL_VALUE)
        require(chained["read"] == guarded["wrote"], "e2e_2 did not read e2e_1's IL")
        for rewrite in (guarded, chained):
            header = int(rewrite["wrote"][:2], 16)
            require(header & 0x3 == 0x3 and header & 0x8, f"no fat header with sections: {rewrite['wrote']}")
    run_il_chain(driver, "guard add 10", "mul 2", 22, check)


def il_many(driver):
    """Both targets rewrite many methods while several threads have them compiled at once."""
    def check(extra, tiered):
        targets = il_targets("add 10", "mul 2", MANY_METHODS + "*", MANY_COUNT)
        lines = [f"M{k:03d} = {(k + 10) * 2}" for k in range(MANY_COUNT)]
        run = run_program(driver, targets, extra, "ilmany", lines)
        check_il_log(run, MANY_METHODS, MANY_COUNT)
    for_each_tiering(check)


def heap_growth(path):
    """Native heap bytes per round between the program's two measurements."""
    with open(path, encoding="utf-8") as f:
        (first_round, first), (last_round, last) = [map(int, line.split()) for line in f.read().splitlines()]
    return (last - first) / (last_round - first_round)


def plugin_targets(rewrites):
    return [Target(f"e2e_{number}", number, number, JIT_COMPILATION | MODULE_LOADS, il_methods=PLUGIN_METHODS,
                   il_rewrite=rewrite, il_expect=PLUGIN_COUNT * PLUGIN_ROUNDS) for number, rewrite in rewrites]


def plugin_base(round_number):
    """The constant the round's plugin build adds: the two builds alternate."""
    return 0 if round_number % 2 else 1000


def run_plugin(driver, targets, value, name, **options):
    """Runs the plugin program; every round must give value(round), and every round's module unload must
    reach the targets. Returns the native heap growth per round."""
    lines = [f"round {r}: {sum(value(r + plugin_base(r) + k) for k in range(PLUGIN_COUNT))}"
             for r in range(1, PLUGIN_ROUNDS + 1)]
    figures = os.path.join(driver.work, f"heap_{name}.txt")
    run_program(driver, targets, PLUGIN_ENVIRONMENT, "plugin", lines, [str(PLUGIN_ROUNDS), figures],
                address_space=PLUGIN_ADDRESS_SPACE, **options)
    for target in targets:
        unloads = [r for r in target.records.callbacks("ModuleUnloadStarted") if r.details == "Plugin.dll"]
        require(len(unloads) == PLUGIN_ROUNDS, f"{target.name}: {len(unloads)} unloads of the plugin")
    return heap_growth(figures)


def plugin_unload_reads(target):
    """How many bodies the target read in the plugin's ModuleUnloadStarted."""
    return sum(1 for r in target.records.calls("UnloadRead") if r.fields()[1].get("hr") == "0x0")


def reused_module_ids(targets):
    """Module ids that the targets saw at ModuleLoadStarted more than once, each counted per target."""
    seen = Counter(r.details for t in targets for r in t.records.callbacks("ModuleLoadStarted"))
    return [module for module, count in seen.items() if count > len(targets)]


def plugin_unload(driver):
    """The program loads, calls and unloads a plugin assembly round after round (collectible contexts) under
    two targets rewriting its methods, the first one reading the IL of the method compiled last on a thread
    of its own until that method's module starts to unload: every round gives its own build's chained value
    (the two builds alternate, with the same tokens and other constants), and what the multiplexer keeps
    does not grow with the rounds: the native heap grows about as much as under one target alone. The first
    target also reads a method never called in each ModuleUnloadStarted of the plugin, as many bodies as
    directly. In both runs a plugin module takes the id of one unloaded before (see PLUGIN_ENVIRONMENT)."""
    [direct] = plugin_targets([(1, "add 10")])
    direct.settings["UNLOAD_READ"] = PLUGIN_UNLOAD_READ
    alone = run_plugin(driver, [direct], lambda v: v + 10, "alone", direct=True)
    first, second = plugin_targets([(1, "add 10"), (2, "mul 2")])
    first.settings["PROXY_THREAD_MS"] = str(RUN_TIMEOUT * 1000)
    first.settings["UNLOAD_READ"] = PLUGIN_UNLOAD_READ
    growth = run_plugin(driver, [first, second], lambda v: (v + 10) * 2, "multiplexed")
    print(f"native heap growth per round: {growth:.0f} bytes, {alone:.0f} under one target alone")
    require(growth <= alone + PLUGIN_GROWTH_SLACK,
            f"the native heap grows by {growth:.0f} bytes a round, {alone:.0f} under one target alone")
    # The module is readable until its ModuleUnloadStarted returns, behind the multiplexer as directly.
    reads = {"directly": plugin_unload_reads(direct), "behind the multiplexer": plugin_unload_reads(first)}
    print(f"IL bodies read in the plugin's ModuleUnloadStarted: {reads}")
    require(reads["directly"] == PLUGIN_ROUNDS and reads["behind the multiplexer"] == reads["directly"],
            f"IL bodies read in {PLUGIN_ROUNDS} plugin unloads: {reads}")
    # A plugin module takes an unloaded one's id, so the values and rewrites above hold across a reused id.
    reused = {"directly": reused_module_ids([direct]), "behind the multiplexer": reused_module_ids([first, second])}
    print(f"module ids given again at ModuleLoadStarted: {reused}")
    for run, ids in reused.items():
        require(ids, f"no module id was given again in {PLUGIN_ROUNDS} plugin rounds {run}: reuse is not tested")


def rejit_steps(actions):
    """_REJIT_STEPS for {step number: action}."""
    return ",".join(f"E2E.App.RejitSteps::Step{step}={action}" for step, action in sorted(actions.items()))


def rejit_target(name, number, rewrite, actions, mask=JIT_COMPILATION | REJIT, **options):
    return Target(name, number, number, mask, il_rewrite=rewrite, rejit_method=REJIT_VALUE,
                  rejit_steps=rejit_steps(actions), **options)


def run_rejit(driver, targets, values, extra=None, **options):
    """Runs the ReJIT program, which polls for the given value after each step."""
    lines = ["value = 1"] + [line for step, value in enumerate(values, 1)
                             for line in (f"after step {step}: value = {value}", f"after step {step}: {THROWN}")]
    environment = {"DOTNET_TieredCompilation": "0"}
    environment.update(extra or {})
    run = run_program(driver, targets, environment, "rejit", lines, map(str, values), **options)
    for target in targets:
        check_mask_respected(target)
    return run


def require_calls(target, name, expected):
    """The target's calls of that name for the ReJIT method are the expected ones, each written as the part
    of its details after the method."""
    calls = il_calls(target, name, REJIT_VALUE)
    got = [" ".join(f"{key}={value}" for key, value in fields.items()) for fields in calls]
    require(got == expected, f"{target.name}: {name} {got}, expected {expected}")


def rejit_rewrites(target, count):
    rewrites = il_calls(target, "FunctionControl::SetILFunctionBody", REJIT_VALUE)
    require(len(rewrites) == count, f"{target.name}: {len(rewrites)} rewrites in GetReJITParameters, expected {count}")
    require(all(r["hr"] == "0x0" for r in rewrites), f"{target.name}: {rewrites}")
    return rewrites


def rejit_callbacks(target):
    names = ("ReJITCompilationStarted", "GetReJITParameters", "ReJITCompilationFinished")
    return [r for r in target.records.callbacks() if r.name in names]


def check_call_order(target):
    """A target flagged to revert the ReJIT call order receives ReJITCompilationStarted just before each
    GetReJITParameters; any other target receives it after."""
    callbacks = rejit_callbacks(target)
    for index, record in enumerate(callbacks):
        if record.name != "GetReJITParameters":
            continue
        before = callbacks[index - 1].name if index > 0 else None
        after = callbacks[index + 1].name if index + 1 < len(callbacks) else None
        if target.revert_rejit_call_order:
            require(before == "ReJITCompilationStarted", f"{target.name}: GetReJITParameters after {before}")
        else:
            require(before != "ReJITCompilationStarted" and after == "ReJITCompilationStarted",
                    f"{target.name}: ReJITCompilationStarted before GetReJITParameters")


def rejit(driver):
    """Both targets ReJIT the method in chain order, then revert it one after the other; a target without
    the ReJIT event mask bit is refused. Several threads call the method meanwhile. Both put nops in front
    and set IL maps: a throw in the method keeps its line after every step."""
    def check(extra, tiered):
        first = rejit_target("e2e_1", 1, "add 10", {2: "rejit", 3: "revert"}, il_nops=IL_NOPS[0])
        second = rejit_target("e2e_2", 2, "mul 2", {1: "rejit", 4: "revert"}, revert_rejit_call_order=True,
                              il_nops=IL_NOPS[1])
        refused = rejit_target("e2e_3", 3, "add 1000", {1: "rejit"}, mask=JIT_COMPILATION)
        # Step 1: the second target alone; step 2: both, the first one's request makes the second rewrite
        # again; step 3: the first reverts, the second rewrites the method's own IL; step 4: nothing left.
        run = run_rejit(driver, [first, second, refused], [2, 22, 2, 1], extra)
        require_calls(first, "RequestReJIT", ["hr=0x0"])
        require_calls(first, "RequestRevert", ["hr=0x0 status=0x0"])
        require_calls(second, "RequestReJIT", ["hr=0x0"])
        require_calls(second, "RequestRevert", ["hr=0x0 status=0x0"])
        # As the runtime answers a profiler without the bit.
        require_calls(refused, "RequestReJIT", [f"hr={CORPROF_E_REJIT_NOT_ENABLED:#x}"])
        run.require_log("Profiler e2e_3 is asking for rejit but it's event mask is masking this request")
        # Both rewrite at step 2, each with its IL map: the stack trace still names the throw's line.
        run.require_log(f"RejitProcessor::GetReJITParameters, setting IL code map for {display_name(REJIT_VALUE)}, "
                        "composed of the maps of 2 profilers")
        (alone,) = rejit_rewrites(first, 1)
        original, chained, after_revert = rejit_rewrites(second, 3)
        require(alone["read"] == original["read"], "e2e_1 did not start from the method's own IL")
        require(chained["read"] == alone["wrote"], "e2e_2 did not read e2e_1's rewrite")
        # The IL given during a ReJIT is not handed out again: after the revert the chain restarts from the
        # method's own IL.
        require(after_revert["read"] == original["read"], "e2e_2 read an earlier ReJIT's IL after the revert")
        for target in (first, second):
            check_call_order(target)
    for_each_tiering(check)


def rejit_direct(driver):
    """Reference: the test target alone under the runtime. The runtime hands out the method's own IL in
    GetReJITParameters, not the IL of an earlier ReJIT; the target's IL map keeps a throw's line."""
    target = rejit_target("direct", 1, "add 10", {1: "rejit", 2: "rejit", 3: "revert"}, il_nops=IL_NOPS[0])
    run_rejit(driver, [target], [11, 11, 1], direct=True)
    first, second = rejit_rewrites(target, 2)
    require(first["read"] == second["read"], "the runtime handed out an earlier ReJIT's IL")


def rejit_revert_inside(driver):
    """The second target stays pending after the first one's revert but leaves the IL alone: the
    multiplexer asks the runtime for a revert from inside the runtime's GetReJITParameters. The second
    target leaves the IL alone from the step before: the first one's thread asks for the revert while the
    step's marker is still being compiled."""
    first = rejit_target("e2e_1", 1, "add 10", {1: "rejit", 4: "revert"})
    second = rejit_target("e2e_2", 2, "mul 2", {2: "rejit", 3: "drop"})
    run = run_rejit(driver, [first, second], [11, 22, 22, 1])
    rejit_rewrites(second, 1)
    require(len(second.records.callbacks("GetReJITParameters")) == 2, "e2e_2 was not asked at the revert")
    run.require_log(f"Requesting a real IL revert for {display_name(REJIT_VALUE)}")
    run.require_no_log("ProfilerMultiplexer::RevertFromRejit failed")
    run.require_no_log("ProfilerMultiplexer::RevertFromRejit got an error result")


def rejit_replay(driver):
    """A target reverts from inside its GetReJITParameters: the request waits and is passed to the runtime
    from inside the runtime's GetReJITParameters, after the lock is released."""
    first = rejit_target("e2e_1", 1, "add 10", {1: "rejit"}, rejit_in_callback="revert")
    second = rejit_target("e2e_2", 2, "mul 2", {})
    run = run_rejit(driver, [first, second], [1])
    require_calls(first, "RequestRevert", ["hr=0x0 status=0x0"])
    run.require_log(f"ProfilerMultiplexer::RequestReJITOrRevert, {display_name(REJIT_VALUE)} rejit process for "
                    "the requested function is in progress. put the function in a rejit request waiting list.")
    run.require_log(f"ProfilerMultiplexer::RestartPendingRejitRequests, RequestReJITOrRevert for "
                    f"{display_name(REJIT_VALUE)} return hr=0")


# A method of the program compiled before the ReJIT method, which a target asks to ReJIT or revert while it
# waits in a callback of the ReJIT method; never called again.
WAIT_METHOD = "E2E.App.RejitSteps::Run"
# (callback, request): where the first target waits for its own thread's request of WAIT_METHOD.
WAIT_ROWS = [(callback, action) for callback in ("JITCompilationStarted", "GetReJITParameters",
                                                 "ReJITCompilationStarted", "ReJITCompilationFinished")
             for action in ("rejit", "revert")]


def rejit_revert_last(driver):
    """The last target in the chain reverts first: the first target's rewrite must stay. Also with the first
    target waiting, in one callback of the ReJIT method, for a ReJIT or a revert of another method that its
    own thread asks for: the request is answered at once, and the values stay."""
    for row in [None] + WAIT_ROWS:
        wait = {"wait_in": "=".join(row), "wait_method": WAIT_METHOD} if row else {}
        first = rejit_target("e2e_1", 1, "add 10", {1: "rejit", 4: "revert"}, **wait)
        second = rejit_target("e2e_2", 2, "mul 2", {2: "rejit", 3: "revert"})
        try:
            run_rejit(driver, [first, second], [11, 22, 11, 1])
            if row:
                waited = [fields for fields in il_calls(first, "WaitedRequest", WAIT_METHOD)
                          if fields["hr"] == "0x0"]
                require(len(waited) == 1, f"e2e_1: {first.records.calls('WaitedRequest')}")
        except ScenarioFailure as failure:
            raise ScenarioFailure(f"[waits in {row}] {failure}") from None


def rejit_replay_rejit(driver):
    """A target asks for a ReJIT again from inside its GetReJITParameters: its rewrite must stay, and the
    next target's ReJIT chains onto it."""
    first = rejit_target("e2e_1", 1, "add 10", {1: "rejit"}, rejit_in_callback="rejit")
    second = rejit_target("e2e_2", 2, "mul 2", {2: "rejit"})
    run_rejit(driver, [first, second], [11, 22])


def rejit_replay_revert(driver):
    """A target reverts from inside its GetReJITParameters: the next target's ReJIT must no longer see its
    rewrite."""
    first = rejit_target("e2e_1", 1, "add 10", {1: "rejit"}, rejit_in_callback="revert")
    second = rejit_target("e2e_2", 2, "mul 2", {2: "rejit"})
    run_rejit(driver, [first, second], [1, 2])


INLINEE = "E2E.App.RejitInliners::Inlinee"
INLINER = "E2E.App.RejitInliners::Inliner"
# COR_PRF_REJIT_BLOCK_INLINING, which the runtime requires, and COR_PRF_REJIT_INLINING_CALLBACKS.
REJIT_WITH_INLINERS = 0x3


def inliner_rejits(target):
    """The target's ReJIT callbacks, each as (callback, method), counted."""
    names = ("GetReJITParameters", "ReJITCompilationStarted", "ReJITCompilationFinished", "ReJITError")
    return Counter((r.name, r.fields()[0]) for r in target.records.callbacks() if r.name in names)


def rejit_inliners(driver):
    """A target asks for a ReJIT of a small method with its inliners (tiered compilation off): the runtime
    also ReJITs the method that inlined it. Behind the multiplexer, with another ReJIT target in front, the
    target takes part in the inliner's ReJIT as it does loaded directly: the same callbacks, and the inliner
    returns the same value, whether the target rewrites only the method it named or the inliner too."""
    for rewrites_inliners, value in ((False, 111), (True, 121)):
        reference = None
        for direct in (True, False):
            target = Target("e2e_2", 2, 2, JIT_COMPILATION | REJIT, il_rewrite="add 10", rejit_method=INLINEE,
                            rejit_steps="E2E.App.RejitInliners::Step1=rejit",
                            rejit_inliners=REJIT_WITH_INLINERS, rejit_rewrite_inliners=int(rewrites_inliners))
            front = Target("e2e_1", 1, 1, JIT_COMPILATION | REJIT)
            targets = [target] if direct else [front, target]
            mode = ("direct" if direct else "multiplexed") + (", inliner rewritten" if rewrites_inliners else "")
            try:
                run = run_program(driver, targets, {"DOTNET_TieredCompilation": "0"}, "inliners",
                                  ["inlinee = 1", "value = 101", f"after step 1: value = {value}"], [str(value)],
                                  direct=direct)
                requests = il_calls(target, "RequestReJITWithInliners", INLINEE)
                require(requests == [{"hr": "0x0"}], f"RequestReJITWithInliners: {requests}")
                rejits = inliner_rejits(target)
                require(rejits[("GetReJITParameters", INLINER)] > 0, f"no ReJIT of the inliner: {rejits}")
                if direct:
                    reference = rejits
                else:
                    require(rejits == reference, f"ReJIT callbacks {dict(rejits)}, directly {dict(reference)}")
                    require(not inliner_rejits(front), f"e2e_1 took part: {dict(inliner_rejits(front))}")
                    run.require_no_log("cant find the RejitProcessor object")
            except ScenarioFailure as failure:
                raise ScenarioFailure(f"[{mode}] {failure}") from None


# A target built on the shared C++ runtime throws std::runtime_error, each in a fresh process so that its throw
# comes before any the multiplexer makes itself: caught and logged, the program runs unchanged.

def throw_first(driver):
    """The target throws from the first callback the process raises."""
    thrower = Target("e2e_1", 1, 1, MODULE_LOADS, throw_in="ModuleLoadStarted")
    other = Target("e2e_2", 2, 2, MODULE_LOADS)
    run = driver.run([thrower, other])
    for target in (thrower, other):
        check_lifecycle(target)
        check_received(target, "ModuleLoadStarted", "ModuleLoadFinished")
    run.require_log("Unhandled exception when calling ModuleLoadStarted on e2e_1")


def throw_jit(driver):
    """The first target throws from JITCompilationStarted while the second rewrites: the rewrite stands."""
    thrower = Target("e2e_1", 1, 1, JIT_COMPILATION, throw_in="JITCompilationStarted")
    rewriter = Target("e2e_2", 2, 2, JIT_COMPILATION, il_methods=IL_VALUE, il_rewrite="add 10", il_expect=1)
    run = run_program(driver, [thrower, rewriter], {}, "ilchain", ["value = 11", "value after warm-up = 11", THROWN])
    run.require_log("Unhandled exception when calling JITCompilationStarted on e2e_1")


def throw_rejit(driver):
    """The second target throws from GetReJITParameters: its ReJIT changes nothing, the first one's
    ReJIT afterwards works."""
    first = rejit_target("e2e_1", 1, "add 10", {2: "rejit"})
    thrower = rejit_target("e2e_2", 2, "mul 2", {1: "rejit"}, throw_in="GetReJITParameters")
    run = run_rejit(driver, [first, thrower], [1, 11])
    run.require_log(f"RejitProcessor::GetReJITParameters Unhandled exception when handling "
                    f"{display_name(REJIT_VALUE)}")



# Attach.

ATTACH_TIMEOUT = 60  # the program's attaches give up after 10 s each


def run_attach(driver, targets, extra=None):
    """Runs the attaching program with the targets configured but no profiler loaded at start-up: it attaches
    the multiplexer to itself, then the test target numbered 3 directly. Returns the program's output lines,
    the run (with the multiplexer's log) and that target."""
    program = os.path.join(os.path.dirname(driver.app), "attach", "Attach.dll")
    require(os.path.exists(program), f"no attaching program at {program}")
    direct = Target("direct", 3, 3, JIT_COMPILATION)
    logs = os.path.join(driver.work, "logs")
    os.makedirs(logs, exist_ok=True)
    env = driver.clean_environment()
    env.update({"Tarnix_Agent_LogsFolder": logs, "CORECLR_PROFILERS": ";".join(t.name for t in targets)})
    for target in targets + [direct]:
        out = os.path.join(driver.work, f"target_{target.name}.txt")
        if os.path.exists(out):
            os.remove(out)
        # The directly attached target needs only its own settings.
        env.update({key: value for key, value in target.environment("CORECLR_", driver.library, out).items()
                    if target in targets or key.startswith("E2E_TARGET_")})
    env.update(extra or {})
    command = ["dotnet", program, f"{MULTIPLEXER_CLSID}={driver.multiplexer}", f"{direct.clsid}={driver.library}"]
    returncode, stdout, stderr, pid = driver.spawn(command, env, ATTACH_TIMEOUT)
    if driver.show:
        print(stdout, stderr, sep="", end="")
    require(returncode == 0, f"the attaching program ended with {returncode}\n{stdout}{stderr}")
    for target in targets + [direct]:
        target.records = TargetRecords(os.path.join(driver.work, f"target_{target.name}.txt"))
    lines = stdout.splitlines()
    require(len(lines) == 8 and lines[-1] == "end", f"the attaching program's output:\n{stdout}{stderr}")
    run = Run(returncode, stdout, stderr, pid, driver.log_path(env, pid))
    return lines, run, direct


def check_attach_refused(driver, targets, extra=None):
    """The multiplexer's attach fails with an error, the program runs on, the runtime lets the multiplexer
    go (its library is unloaded) and takes the target attached after it; no target behind the multiplexer is
    called."""
    lines, run, direct = run_attach(driver, targets, extra)
    refused = f"attach {MULTIPLEXER_CLSID}: refused: "
    require(lines[1].startswith(refused) and "0x80131368" in lines[1], f"the multiplexer's attach: {lines[1]}")
    require(lines[2] == "library not mapped", f"after the refused attach, the multiplexer's {lines[2]}")
    require(lines[4] == f"attach {direct.clsid}: accepted", f"the direct attach: {lines[4]}")
    for target in targets:
        require(not target.records.callbacks(), f"{target.name} was called: {target.records.describe()}")
    check_received(direct, "InitializeForAttach", "ProfilerAttachComplete")
    run.require_log("Profiler Multiplexer: attaching to a running process is not supported")


def attach(driver):
    """Attach requests for the multiplexer over two targets, over one kept in place by
    FORCE_PROFILER_MULTIPLEXER, and over one alone, for which it steps aside."""
    check_attach_refused(driver, [Target("e2e_1", 1, 1, JIT_COMPILATION), Target("e2e_2", 2, 2, THREADS)])
    check_attach_refused(driver, [Target("e2e_1", 1, 1, JIT_COMPILATION)], {"FORCE_PROFILER_MULTIPLEXER": "1"})
    # One target alone: the runtime receives the target itself, which accepts; a second attach is refused.
    single = Target("e2e_1", 1, 1, JIT_COMPILATION)
    lines, _, direct = run_attach(driver, [single])
    require(lines[1] == f"attach {MULTIPLEXER_CLSID}: accepted", f"the single target's attach: {lines[1]}")
    check_received(single, "InitializeForAttach", "ProfilerAttachComplete")
    require(lines[4].startswith(f"attach {direct.clsid}: refused: ProfilerAlreadyActiveException"),
            f"the attach after the single target's: {lines[4]}")


# What the runtime's own profiler tests do.

PINNED_COUNT = 8
PINNED_LENGTH = 1000


def pinned_alloc(driver):
    """A target asks for large and pinned object allocations alone, as the runtime's own allocation test does
    (the high word's bits with the low word's enabling bit; the runtime reports pinned objects only with
    both): it receives ObjectAllocated for the program's pinned arrays, behind the multiplexer, with another
    target in front, as loaded alone. Behind a target that asks for every allocation, a target that asks for
    pinned objects alone still receives only those."""
    rows = (("directly", None, HIGH_LARGE_OBJECTS_ALLOCATED | HIGH_PINNED_OBJECTS_ALLOCATED),
            ("behind the multiplexer", JIT_COMPILATION, HIGH_LARGE_OBJECTS_ALLOCATED | HIGH_PINNED_OBJECTS_ALLOCATED),
            ("behind every allocation", ENABLE_OBJECT_ALLOCATED | OBJECT_ALLOCATED, HIGH_PINNED_OBJECTS_ALLOCATED))
    for label, front, heaps in rows:
        pinned = Target("e2e_2", 2, 2, ENABLE_OBJECT_ALLOCATED, heaps >> 32, use_seteventmask2=1)
        targets = [pinned] if front is None else [Target("e2e_1", 1, 1, front), pinned]
        generations = {str(g) for g, bit in ((3, HIGH_LARGE_OBJECTS_ALLOCATED), (4, HIGH_PINNED_OBJECTS_ALLOCATED))
                       if heaps & bit}
        try:
            run_program(driver, targets, {}, "pinned",
                        [f"pinned arrays = {PINNED_COUNT} of {PINNED_COUNT * PINNED_LENGTH} bytes"],
                        direct=front is None)
            check_mask_respected(pinned)
            objects = [r.fields()[1] for r in pinned.records.callbacks("ObjectAllocated")]
            sizes = [int(o.get("size", 0)) for o in objects]
            arrays = [size for size in sizes if size > PINNED_LENGTH]
            require(len(arrays) >= PINNED_COUNT,
                    f"{len(arrays)} ObjectAllocated for the program's pinned arrays, expected {PINNED_COUNT}; "
                    f"object sizes {sizes}")
            others = [o for o in objects if o.get("generation") not in generations]
            require(not others, f"{len(others)} ObjectAllocated for objects of heaps not asked for: {others[:5]}")
        except ScenarioFailure as failure:
            raise ScenarioFailure(f"[{label}] {failure}") from None


def check_hooks_called(target):
    (hooks,) = target.records.calls("SetEnterLeaveFunctionHooks3WithInfo")
    require(hooks.fields()[1]["hr"] == "0x0", f"{target.name}: SetEnterLeaveFunctionHooks3WithInfo {hooks.details}")
    (counts,) = target.records.calls("EnterLeaveHooks")
    calls = counts.fields()[1]
    require(int(calls["enter"]) > 0 and int(calls["leave"]) > 0, f"{target.name}: hooks not called: {counts.details}")


def hook_calls(target):
    (counts,) = target.records.calls("EnterLeaveHooks")
    return {key: int(value) for key, value in counts.fields()[1].items()}


def enter_leave_hooks(driver):
    """A target sets its mask and then enter/leave hooks in its Initialize, in the documented order: behind
    the multiplexer, first or second of two targets, its Initialize succeeds and its hooks are called, as
    when loaded alone. Declining after its hooks, it leaves the other target served and none of its hooks is
    called. Beside a target that sets a function id mapper (served or declining in front), its hooks are
    called with function ids: the runtime uses no mapper of another target."""
    hooking = Target("e2e_1", 1, 1, ENTER_LEAVE, use_seteventmask2=1, enter_leave_hooks=1)
    driver.run([hooking], direct=True)
    check_lifecycle(hooking)
    check_hooks_called(hooking)
    for priority in (1, 3):
        hooking = Target("e2e_1", 1, priority, ENTER_LEAVE, use_seteventmask2=1, enter_leave_hooks=1)
        other = Target("e2e_2", 2, 2, JIT_COMPILATION | THREADS)
        try:
            run = driver.run([hooking, other])
            check_lifecycle(hooking)
            check_mask_respected(hooking)
            check_hooks_called(hooking)
            check_served(other)
            run.require_no_log("Error initializing a profiler")
        except ScenarioFailure as failure:
            raise ScenarioFailure(f"[hooks target {'first' if priority == 1 else 'second'}] {failure}") from None
    try:
        declined = Target("e2e_1", 1, 1, ENTER_LEAVE, use_seteventmask2=1, enter_leave_hooks=1, init_result="0x80004005")
        other = Target("e2e_2", 2, 2, JIT_COMPILATION | THREADS)
        run = driver.run([declined, other])
        check_served(other)
        require(hook_calls(other)["others"] == 0, f"hooks of the declined target called: {hook_calls(other)}")
        run.require_no_log("refused")
    except ScenarioFailure as failure:
        raise ScenarioFailure(f"[hooks target declining] {failure}") from None
    for declines in (False, True):
        mapping = Target("e2e_1", 1, 2 if not declines else 1, THREADS if not declines else ENTER_LEAVE,
                         use_seteventmask2=1, function_id_mapper=1, init_result="0x80004005" if declines else "0")
        hooking = Target("e2e_2", 2, 1 if not declines else 2, ENTER_LEAVE, use_seteventmask2=1, enter_leave_hooks=1)
        try:
            run = driver.run([hooking, mapping] if not declines else [mapping, hooking])
            check_lifecycle(hooking)
            check_hooks_called(hooking)
            require(hook_calls(hooking)["marked"] == 0, f"mapped ids given to the hooks: {hook_calls(hooking)}")
            if not declines:
                check_lifecycle(mapping)
                (mapper,) = mapping.records.calls("SetFunctionIDMapper")
                require(mapper.fields()[1]["hr"] != "0x0", f"the mapper target's mapper: {mapper.details}")
                run.require_log("e2e_1 sets a function id mapper")
        except ScenarioFailure as failure:
            raise ScenarioFailure(f"[mapper target {'declining in front' if declines else 'behind'}] {failure}") \
                from None


SCENARIOS = {f.__name__: f for f in (direct_target, two_targets, mask_change, single_target, single_target_forced,
                                     no_target, broken_targets, failed_initialize, decline_all, decline_one,
                                     init_thread, newer_info, log_folder, log_home, log_temp, exit_code, il_chain,
                                     il_first_only, il_guard, il_many, plugin_unload,
                                     rejit, rejit_direct, rejit_revert_inside, rejit_replay, rejit_revert_last,
                                     rejit_replay_rejit, rejit_replay_revert, throw_first, throw_jit,
                                     throw_rejit, attach, rejit_inliners, pinned_alloc, enter_leave_hooks)}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--app", required=True, help="the program's App.dll")
    parser.add_argument("--multiplexer", required=True, help="TarnixClrProfilerMultiplexer.so")
    parser.add_argument("--target", required=True, help="the test target library")
    parser.add_argument("--work", required=True, help="folder for records and logs, emptied first")
    parser.add_argument("--preload", help="libraries to preload into runs under the multiplexer, ':'-separated")
    parser.add_argument("--show", action="store_true", help="print where the results are and what they hold")
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    try:
        SCENARIOS[args.scenario](Driver(args))
    except ScenarioFailure as failure:
        print(f"FAILED {args.scenario}: {failure}", file=sys.stderr)
        return 1
    print(f"PASSED {args.scenario}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
