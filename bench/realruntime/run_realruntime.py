#!/usr/bin/env python3
"""Runs the real-runtime benchmark: a workload under the .NET runtime with no profiler, with one rewriting
target loaded directly, with the same target behind the multiplexer, and with two such targets behind the
multiplexer. Every configuration runs RUNS times, interleaved so that a change in the machine's load hits
all of them alike; wall time and peak memory (/usr/bin/time -v) and CPU time (user and system of every
waited-for process, from getrusage, finer than /usr/bin/time prints it) are taken as medians.

Workloads:
  app    the benchmark program. A run counts only when the program printed what a run without profiler
         prints and every target rewrote every generated method without a failure.
  rounds the benchmark program loading its own assembly into a collectible context, calling it and
         unloading it ROUNDS times: the bytes malloc holds per round between round 10 and the last one.
  build  an incremental `dotnet build` of a small project (copied to the work folder, restored and built
         once without profiler), profiled as a whole: every process the build starts inherits the
         profiler's variables. A run counts only when the build succeeded, every target reported at least
         once, rewrote or copied methods, and failed no more often than the target loaded directly does
         (the runtime answers GetILFunctionBody with CORPROF_E_FUNCTION_NOT_IL for a method of the build).

    run_realruntime.py --app BenchApp.dll --multiplexer TarnixClrProfilerMultiplexer.so \
                       --target bench_rewriting_target.so --work DIR [--runs 7] [--json OUT]
    run_realruntime.py --workload rounds --app BenchApp.dll [--rounds 2000] --multiplexer ... --target ... \
                       --work DIR [--runs 3] [--configs b,d] [--json OUT]
    run_realruntime.py --workload build [--project BuildProject.csproj] --multiplexer ... --target ... \
                       --work DIR [--runs 5] [--json OUT]
"""

import argparse
import ctypes
import json
import os
import re
import resource
import shutil
import statistics
import subprocess
import sys

MULTIPLEXER_CLSID = "{3BF080FE-7DEB-4051-AEF1-BD3AB01F1883}"
TARGET_CLSID = "{6F3C2A1B-8E4D-4B7A-9C5E-2D1F0A3B4C5D}"
TIMEOUT = 300
PR_SET_CHILD_SUBREAPER = 36
DEFAULT_PROJECT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "BuildProject", "BuildProject.csproj")
# No build server, MSBuild node or compiler server may outlive a build, nor may the CLI work in the background.
BUILD_ENV = {"DOTNET_CLI_USE_MSBUILD_SERVER": "0", "MSBUILDDISABLENODEREUSE": "1", "UseSharedCompilation": "false",
             "DOTNET_CLI_WORKLOAD_UPDATE_NOTIFY_DISABLE": "1", "DOTNET_SKIP_FIRST_TIME_EXPERIENCE": "1",
             "MSBUILDTERMINALLOGGER": "off"}
BUILD_FLAGS = ["-nodeReuse:false", "-p:UseSharedCompilation=false", "-v:q"]
REPORT = re.compile(r"rewriting target (\d+): rewritten (\d+) copied (\d+) failed (\d+) info_call_ns ([\d.]+)")

# name: (what it is, targets behind the multiplexer or None for a direct target, forced, extra variables)
CONFIGS = {
    "a": ("no profiler", None, False, {}),
    "b": ("one target, direct", 0, False, {}),
    "c": ("one target behind the multiplexer (forced)", 1, True, {}),
    "d": ("two targets behind the multiplexer", 2, False, {}),
}
# Diagnostic configurations, run on request: targets that only receive the JIT callbacks, and targets
# that time forwarded GetFunctionInfo calls.
EXTRA_CONFIGS = {
    "b0": ("one target, direct, no rewriting", 0, False, {"BENCH_TARGET_REWRITE": "0"}),
    "c0": ("one target behind the multiplexer, no rewriting", 1, True, {"BENCH_TARGET_REWRITE": "0"}),
    "bf": ("one target, direct, timing GetFunctionInfo", 0, False, {"BENCH_TARGET_TIMED_INFO_CALLS": "64"}),
    "cf": ("one target behind the multiplexer, timing GetFunctionInfo", 1, True,
           {"BENCH_TARGET_TIMED_INFO_CALLS": "64"}),
}


def target_link(args, name):
    """A path of its own to the target library for each target name: the multiplexer loads a library path and
    class id once, the dynamic loader maps the library once whatever the path."""
    link = os.path.join(args.work, f"{name}.so")
    if os.path.lexists(link):
        os.remove(link)
    os.makedirs(args.work, exist_ok=True)
    os.symlink(os.path.abspath(args.target), link)
    return link


def environment(args, config):
    _, targets, forced, extra = {**CONFIGS, **EXTRA_CONFIGS}[config]
    env = {k: v for k, v in os.environ.items() if not k.startswith(("CORECLR_", "COR_", "BENCH_TARGET_"))}
    env.update({"DOTNET_CLI_TELEMETRY_OPTOUT": "1", "DOTNET_NOLOGO": "1", "Tarnix_Agent_LogLevel": "info",
                "Tarnix_Agent_LogsFolder": os.path.join(args.work, "logs")})
    env.pop("FORCE_PROFILER_MULTIPLEXER", None)
    if args.workload == "build":
        env.update(BUILD_ENV)
    env.update(extra)
    if targets is None:
        return env
    env["CORECLR_ENABLE_PROFILING"] = "1"
    if targets == 0:
        env.update({"CORECLR_PROFILER": TARGET_CLSID, "CORECLR_PROFILER_PATH": args.target})
        return env
    names = [f"Rewriter{n}" for n in range(1, targets + 1)]
    env.update({"CORECLR_PROFILER": MULTIPLEXER_CLSID, "CORECLR_PROFILER_PATH": args.multiplexer,
                "CORECLR_PROFILERS": ";".join(names)})
    for priority, name in enumerate(names, 1):
        env.update({f"CORECLR_{name}_PROFILER_PATH": target_link(args, name),
                    f"CORECLR_{name}_PROFILER": TARGET_CLSID, f"CORECLR_{name}_PRIORITY": str(priority)})
    if forced:
        env["FORCE_PROFILER_MULTIPLEXER"] = "1"
    return env


def time_field(text, label):
    match = re.search(re.escape(label) + r"\s*(\S+)", text)
    if not match:
        raise RuntimeError(f"no '{label}' in the output of /usr/bin/time")
    return match.group(1)


def seconds(clock):
    parts = [float(p) for p in clock.split(":")]
    return sum(p * 60 ** i for i, p in enumerate(reversed(parts)))


def wanted_reports(config):
    """Target numbers that report in every profiled process."""
    targets = {**CONFIGS, **EXTRA_CONFIGS}[config][1]
    return [] if targets is None else list(range(1, max(targets, 1) + 1))


def measure(args, config, command):
    """Runs the command under /usr/bin/time; the completed process and its wall, CPU and peak memory."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    done = subprocess.run(["/usr/bin/time", "-v"] + command, env=environment(args, config), capture_output=True,
                          text=True, timeout=TIMEOUT, check=False)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if done.returncode != 0:
        raise RuntimeError(f"{config}: exit code {done.returncode}\n{done.stdout}\n{done.stderr}")
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return done, {"wall_s": seconds(time_field(done.stderr, "Elapsed (wall clock) time (h:mm:ss or m:ss):")),
                  "cpu_s": cpu, "peak_kb": int(time_field(done.stderr, "Maximum resident set size (kbytes):"))}


def run_app(args, config, expected):
    done, sample = measure(args, config, ["dotnet", args.app])
    if expected is not None and done.stdout != expected:
        raise RuntimeError(f"{config}: the program printed\n{done.stdout}\ninstead of\n{expected}")
    reports = [tuple(float(x) for x in m) for m in REPORT.findall(done.stderr)]
    wanted = len(wanted_reports(config))
    if len(reports) != wanted:
        raise RuntimeError(f"{config}: {len(reports)} target reports, {wanted} expected\n{done.stderr}")
    methods = int(re.search(r"methods (\d+)", done.stdout).group(1))
    rewriting = "BENCH_TARGET_REWRITE" not in {**CONFIGS, **EXTRA_CONFIGS}[config][3]
    for _, rewritten, copied, failed, _ in reports:
        if failed != 0 or (rewriting and rewritten + copied < methods):
            raise RuntimeError(f"{config}: a target did not rewrite every method\n{done.stderr}")
    return {**sample, "info_call_ns": [r[4] for r in reports], "stdout": done.stdout,
            "methods_seen": [r[1] + r[2] for r in reports]}


def run_rounds(args, config):
    done, sample = measure(args, config, ["dotnet", args.app, "rounds", str(args.rounds)])
    first_round, first, last_round, last = (int(x) for x in re.search(r"heap (\d+) (\d+) (\d+) (\d+)",
                                                                        done.stdout).groups())
    if len(REPORT.findall(done.stderr)) != len(wanted_reports(config)):
        raise RuntimeError(f"{config}: missing target reports\n{done.stderr}")
    return {**sample, "info_call_ns": [], "methods_seen": [],
            "kept_per_round": (last - first) / (last_round - first_round)}


def adopt_orphans():
    """Makes the processes that outlive their parent during a build this process's children."""
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        raise OSError(ctypes.get_errno(), "prctl(PR_SET_CHILD_SUBREAPER)")


def leftover_children():
    """The command lines of this process's children, reaping those that have exited."""
    while True:
        try:
            if os.waitpid(-1, os.WNOHANG)[0] == 0:
                break
        except ChildProcessError:
            break
    left = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{entry}/stat", encoding="utf-8", errors="replace") as f:
                parent = int(f.read().rsplit(")", 1)[1].split()[1])
            if parent == os.getpid():
                with open(f"/proc/{entry}/cmdline", encoding="utf-8", errors="replace") as f:
                    left.append(f"{entry}: " + f.read().replace("\0", " ").strip())
        except (OSError, IndexError, ValueError):
            pass
    return left


def run_build(args, config, allowed_failures):
    """One incremental build of the project copied to the work folder."""
    done, sample = measure(args, config, ["dotnet", "build", args.build_project, "--no-restore"] + BUILD_FLAGS)
    left = leftover_children()
    if left:
        raise RuntimeError(f"{config}: processes outlived the build:\n" + "\n".join(left))
    # A process the build starts may print to a pipe MSBuild reads and logs, so reports are looked for in both.
    reports = [tuple(int(float(x)) for x in m) for m in REPORT.findall(done.stderr + done.stdout)]
    numbers = [r[0] for r in reports]
    missing = [n for n in wanted_reports(config) if n not in numbers]
    if missing or (reports and not wanted_reports(config)):
        raise RuntimeError(f"{config}: target reports {numbers}\n{done.stdout}\n{done.stderr}")
    for _, rewritten, copied, failed, _ in reports:
        if rewritten + copied == 0 or (allowed_failures is not None and failed > allowed_failures):
            raise RuntimeError(f"{config}: a target failed to rewrite\n{done.stdout}\n{done.stderr}")
    return {**sample, "info_call_ns": [], "reports": len(reports),
            "failed": max((r[3] for r in reports), default=0),
            "methods_seen": [r[1] + r[2] for r in reports]}


def prepare_build(args):
    """Copies the project to the work folder, restores and builds it once without profiler."""
    source = os.path.dirname(args.project)
    folder = os.path.join(args.work, "project")
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(source, folder, ignore=shutil.ignore_patterns("bin", "obj"))
    args.build_project = os.path.join(folder, os.path.basename(args.project))
    env = environment(args, "a")
    for command in (["dotnet", "restore", args.build_project, "-v:q"],
                    ["dotnet", "build", args.build_project, "--no-restore"] + BUILD_FLAGS):
        done = subprocess.run(command, env=env, capture_output=True, text=True, timeout=TIMEOUT, check=False)
        if done.returncode != 0:
            raise RuntimeError(f"{' '.join(command)}: exit code {done.returncode}\n{done.stdout}\n{done.stderr}")


def load_average():
    with open("/proc/loadavg", encoding="ascii") as f:
        return " ".join(f.read().split()[:3])


def summary(config, samples):
    return {
        "what": {**CONFIGS, **EXTRA_CONFIGS}[config][0],
        "wall_s": statistics.median(s["wall_s"] for s in samples),
        "cpu_s": statistics.median(s["cpu_s"] for s in samples),
        "peak_kb": statistics.median(s["peak_kb"] for s in samples),
        "wall_all": [s["wall_s"] for s in samples], "cpu_all": [s["cpu_s"] for s in samples],
        "peak_all": [s["peak_kb"] for s in samples],
        "info_call_ns": statistics.median(s["info_call_ns"][0] for s in samples)
        if samples[0]["info_call_ns"] else None,
        "methods_seen": samples[0]["methods_seen"],
        "kept_per_round": statistics.median(s["kept_per_round"] for s in samples)
        if "kept_per_round" in samples[0] else None}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--workload", choices=("app", "rounds", "build"), default="app")
    parser.add_argument("--rounds", type=int, default=2000, help="rounds of the rounds workload")
    parser.add_argument("--app", help="the benchmark program (app workload)")
    parser.add_argument("--project", default=DEFAULT_PROJECT, help="the project to build (build workload)")
    for name in ("multiplexer", "target", "work"):
        parser.add_argument(f"--{name}", required=True)
    parser.add_argument("--runs", type=int)
    parser.add_argument("--configs", default="a,b,c,d")
    parser.add_argument("--json")
    args = parser.parse_args()
    if args.workload != "build" and not args.app:
        parser.error("--app is required for the app and rounds workloads")
    if args.runs is None:
        args.runs = 7 if args.workload == "app" else 5
    for name in ("app", "project", "multiplexer", "target", "work"):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))
    os.makedirs(os.path.join(args.work, "logs"), exist_ok=True)
    configs = args.configs.split(",")
    load_before = load_average()
    if args.workload == "app":
        expected = run_app(args, "a", None)["stdout"]  # also warms the disk cache
        run = lambda config: run_app(args, config, expected)
    elif args.workload == "rounds":
        run = lambda config: run_rounds(args, config)
    else:
        adopt_orphans()
        prepare_build(args)
        # Untimed, with the target loaded directly: how often it fails on its own, and how many methods the
        # build's main process compiles.
        direct = run_build(args, "b", None)
        run = lambda config: run_build(args, config, direct["failed"])
    runs = {config: [] for config in configs}
    for _ in range(args.runs):
        for config in configs:
            runs[config].append(run(config))
    result = {"workload": args.workload, "runs": args.runs, "load_before": load_before,
              "load_after": load_average()}
    if args.workload == "app":
        result["methods"] = int(re.search(r"methods (\d+)", expected).group(1))
    elif args.workload == "build":
        result.update({"project": args.project, "command": " ".join(["dotnet", "build", "PROJECT", "--no-restore"]
                                                                      + BUILD_FLAGS),
                       "main_process_methods": max(direct["methods_seen"]), "direct_failed": direct["failed"]})
    result["configs"] = {}
    for config, samples in runs.items():
        result["configs"][config] = summary(config, samples)
        if args.workload == "build":
            result["configs"][config]["reports_all"] = [s["reports"] for s in samples]
            result["configs"][config]["failed_all"] = [s["failed"] for s in samples]
    text = json.dumps(result, indent=2)
    if args.json:
        with open(args.json, "w", encoding="utf-8") as out:
            out.write(text + "\n")
    print(text)


if __name__ == "__main__":
    sys.exit(main())
