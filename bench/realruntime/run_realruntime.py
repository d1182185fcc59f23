#!/usr/bin/env python3
"""Runs the real-runtime benchmark: the benchmark program under the .NET runtime with no profiler, with
one rewriting target loaded directly, with the same target behind the multiplexer, and with two such
targets behind the multiplexer. Every configuration runs RUNS times, interleaved so that a change in the
machine's load hits all of them alike; wall time and peak memory (/usr/bin/time -v) and CPU time (user
and system, from getrusage, finer than /usr/bin/time prints it) are taken as medians.
A run counts only when the program printed what a run without profiler prints and every target rewrote
every generated method without a failure.

    run_realruntime.py --app BenchApp.dll --multiplexer TarnixClrProfilerMultiplexer.so \
                       --target bench_rewriting_target.so --work DIR [--runs 7] [--json OUT]
"""

import argparse
import json
import os
import re
import resource
import statistics
import subprocess
import sys

MULTIPLEXER_CLSID = "{3BF080FE-7DEB-4051-AEF1-BD3AB01F1883}"
TARGET_CLSID = "{6F3C2A1B-8E4D-4B7A-9C5E-2D1F0A3B4C5D}"
TIMEOUT = 300
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


def environment(args, config):
    _, targets, forced, extra = {**CONFIGS, **EXTRA_CONFIGS}[config]
    env = {k: v for k, v in os.environ.items() if not k.startswith(("CORECLR_", "COR_", "BENCH_TARGET_"))}
    env.update({"DOTNET_CLI_TELEMETRY_OPTOUT": "1", "DOTNET_NOLOGO": "1", "Tarnix_Agent_LogLevel": "info",
                "Tarnix_Agent_LogsFolder": os.path.join(args.work, "logs")})
    env.pop("FORCE_PROFILER_MULTIPLEXER", None)
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
        env.update({f"CORECLR_{name}_PROFILER_PATH": args.target, f"CORECLR_{name}_PROFILER": TARGET_CLSID,
                    f"CORECLR_{name}_PRIORITY": str(priority)})
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


def run_once(args, config, expected):
    command = ["/usr/bin/time", "-v", "dotnet", args.app]
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    done = subprocess.run(command, env=environment(args, config), capture_output=True, text=True,
                          timeout=TIMEOUT, check=False)
    if done.returncode != 0:
        raise RuntimeError(f"{config}: exit code {done.returncode}\n{done.stderr}")
    if expected is not None and done.stdout != expected:
        raise RuntimeError(f"{config}: the program printed\n{done.stdout}\ninstead of\n{expected}")
    reports = [tuple(float(x) for x in m) for m in REPORT.findall(done.stderr)]
    targets = {**CONFIGS, **EXTRA_CONFIGS}[config][1]
    wanted = 0 if targets is None else max(targets, 1)
    if len(reports) != wanted:
        raise RuntimeError(f"{config}: {len(reports)} target reports, {wanted} expected\n{done.stderr}")
    methods = int(re.search(r"methods (\d+)", done.stdout).group(1))
    rewriting = "BENCH_TARGET_REWRITE" not in {**CONFIGS, **EXTRA_CONFIGS}[config][3]
    for _, rewritten, copied, failed, _ in reports:
        if failed != 0 or (rewriting and rewritten + copied < methods):
            raise RuntimeError(f"{config}: a target did not rewrite every method\n{done.stderr}")
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return {"wall_s": seconds(time_field(done.stderr, "Elapsed (wall clock) time (h:mm:ss or m:ss):")),
            "cpu_s": cpu,
            "peak_kb": int(time_field(done.stderr, "Maximum resident set size (kbytes):")),
            "info_call_ns": [r[4] for r in reports], "stdout": done.stdout,
            "methods_seen": [r[1] + r[2] for r in reports]}


def load_average():
    with open("/proc/loadavg", encoding="ascii") as f:
        return " ".join(f.read().split()[:3])


def main():
    parser = argparse.ArgumentParser()
    for name in ("app", "multiplexer", "target", "work"):
        parser.add_argument(f"--{name}", required=True)
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--configs", default="a,b,c,d")
    parser.add_argument("--json")
    args = parser.parse_args()
    for name in ("app", "multiplexer", "target", "work"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    os.makedirs(os.path.join(args.work, "logs"), exist_ok=True)
    configs = args.configs.split(",")
    load_before = load_average()
    expected = run_once(args, "a", None)["stdout"]  # also warms the disk cache
    runs = {config: [] for config in configs}
    for _ in range(args.runs):
        for config in configs:
            runs[config].append(run_once(args, config, expected))
    result = {"runs": args.runs, "load_before": load_before, "load_after": load_average(),
              "methods": int(re.search(r"methods (\d+)", expected).group(1)), "configs": {}}
    for config, samples in runs.items():
        result["configs"][config] = {
            "what": {**CONFIGS, **EXTRA_CONFIGS}[config][0],
            "wall_s": statistics.median(s["wall_s"] for s in samples),
            "cpu_s": statistics.median(s["cpu_s"] for s in samples),
            "peak_kb": statistics.median(s["peak_kb"] for s in samples),
            "wall_all": [s["wall_s"] for s in samples], "cpu_all": [s["cpu_s"] for s in samples],
            "peak_all": [s["peak_kb"] for s in samples],
            "info_call_ns": statistics.median(s["info_call_ns"][0] for s in samples)
            if samples[0]["info_call_ns"] else None,
            "methods_seen": samples[0]["methods_seen"]}
    text = json.dumps(result, indent=2)
    if args.json:
        with open(args.json, "w", encoding="utf-8") as out:
            out.write(text + "\n")
    print(text)


if __name__ == "__main__":
    sys.exit(main())
