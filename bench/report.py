#!/usr/bin/env python3
"""Turns the benchmark results into the tables of bench/README.md, each figure beside its goal.

    report.py --micro micro.json --callgrind DIR --realruntime realruntime.json \
              [--realruntime-build realruntime-build.json]
"""

import argparse
import glob
import json
import os
import platform
import re

TRIGGER = re.compile(r"^desc: Trigger: Client Request: (\S+) iterations=(\d+)$", re.M)
TOTALS = re.compile(r"^totals: (\d+)$", re.M)


def micro_medians(path):
    """Median CPU and real time (ns) and counters of each benchmark, by name."""
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    rows = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name", "median") != "median":
            continue
        name = b["run_name"]
        scale = {"ns": 1, "us": 1e3, "ms": 1e6}[b.get("time_unit", "ns")]
        rows[name] = {"cpu": b["cpu_time"] * scale, "real": b["real_time"] * scale,
                      **{k: b[k] for k in ("allocs", "kept_bytes", "failed") if k in b}}
    return data["context"], rows


def instructions(folder):
    """Instructions per iteration of each counted loop, and whether it took a mutex, by name."""
    counts = {}
    for path in glob.glob(os.path.join(folder, "out.*")):
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        trigger, totals = TRIGGER.search(text), TOTALS.search(text)
        if trigger and totals:
            counts[trigger.group(1)] = int(totals.group(1)) / int(trigger.group(2))
            if "pthread_mutex_lock" in text:
                counts[trigger.group(1) + " locks"] = True
    return counts


def verdict(ok):
    return "met" if ok else "**missed**"


def fan_out(rows, ir):
    lines = ["| targets | direct ns | multiplexer ns | ratio | direct instr | multiplexer instr | instr ratio | "
             "allocs per callback |", "|---|---|---|---|---|---|---|---|"]
    for n in (1, 2, 4, 8):
        d, m = rows[f"FanOut/direct/targets:{n}"], rows[f"FanOut/multiplexer/targets:{n}"]
        di, mi = ir.get(f"FanOut/direct/targets:{n}"), ir.get(f"FanOut/multiplexer/targets:{n}")
        lines.append(f"| {n} | {d['cpu']:.2f} | {m['cpu']:.2f} | {m['cpu'] / d['cpu']:.2f} | {fmt(di)} | "
                     f"{fmt(mi)} | {ratio(mi, di)} | {m['allocs']:.0f} |")
    one, filtered = rows["FanOut/multiplexer/targets:1"], rows["FanOut/multiplexer_1_of/targets:8"]
    per_filtered = (filtered["cpu"] - one["cpu"]) / 7
    ir_filtered = None
    if "FanOut/multiplexer_1_of/targets:8" in ir and "FanOut/multiplexer/targets:1" in ir:
        ir_filtered = (ir["FanOut/multiplexer_1_of/targets:8"] - ir["FanOut/multiplexer/targets:1"]) / 7
    lines.append(f"| 8, of which 7 filtered out | | {filtered['cpu']:.2f} | | | {fmt(ir.get('FanOut/multiplexer_1_of/targets:8'))} "
                 f"| | {filtered['allocs']:.0f} |")
    two = rows["FanOut/multiplexer/targets:2"]["cpu"] / rows["FanOut/direct/targets:2"]["cpu"]
    allocs = max(rows[f"FanOut/multiplexer/targets:{n}"]["allocs"] for n in (1, 2, 4, 8))
    locked = [n for n in (1, 2, 4, 8) if ir.get(f"FanOut/multiplexer/targets:{n} locks")]
    goals = [("no lock, 0 heap allocations per callback",
              f"{allocs:.0f} allocations, {'mutex taken' if locked else 'no mutex taken (callgrind)'}",
              allocs == 0 and not locked),
             ("at most 2 ns per filtered-out target", f"{per_filtered:.2f} ns ({fmt(ir_filtered)} instructions)",
              per_filtered <= 2),
             ("at most 1.5 x the direct calls for 2 targets", f"{two:.2f} x", two <= 1.5)]
    return lines, goals


def forward(rows, ir, real):
    d, p = rows["Forward/direct"], rows["Forward/proxy"]
    lines = ["| call | ns | instructions |", "|---|---|---|",
             f"| GetFunctionInfo on the fake runtime | {d['cpu']:.2f} | {fmt(ir.get('Forward/direct'))} |",
             f"| the same through the proxy | {p['cpu']:.2f} | {fmt(ir.get('Forward/proxy'))} |"]
    goals = [("forward at most 1.2 x the direct call (fake runtime)", f"{p['cpu'] / d['cpu']:.2f} x "
              f"(+{p['cpu'] - d['cpu']:.2f} ns; instructions {ratio(ir.get('Forward/proxy'), ir.get('Forward/direct'))} x)",
              p["cpu"] / d["cpu"] <= 1.2)]
    configs = (real or {}).get("configs", {})
    if configs.get("bf") and configs.get("cf"):
        b, c = configs["bf"]["info_call_ns"], configs["cf"]["info_call_ns"]
        lines.append(f"| real runtime: GetFunctionInfo, direct | {b:.2f} | |")
        lines.append(f"| real runtime: the same through the proxy | {c:.2f} | |")
        goals.append(("forward at most 1.2 x the direct call (real runtime)", f"{c / b:.2f} x", c / b <= 1.2))
    return lines, goals


def jit_chain(rows, ir):
    lines = ["| threads | direct, 1 target | direct, 2 targets | multiplexer, 1 target | multiplexer, 2 targets "
             "| own work, 2 targets | allocs per method (mux, 2) | heap kept per method (mux, 2) |",
             "|---|---|---|---|---|---|---|---|"]
    own = {}
    for threads in (1, 8):
        def row(kind, n):
            return rows[f"JitChain/{kind}/targets:{n}/iterations:20000/real_time/threads:{threads}"]
        key = "cpu" if threads == 1 else "real"
        d1, d2, m1, m2 = row("direct", 1), row("direct", 2), row("multiplexer", 1), row("multiplexer", 2)
        own[threads] = m2[key] - d2[key]
        kept = f"{m2['kept_bytes']:.0f} B" if "kept_bytes" in m2 else ""
        lines.append(f"| {threads} | {d1[key]:.0f} ns | {d2[key]:.0f} ns | {m1[key]:.0f} ns | {m2[key]:.0f} ns | "
                     f"{own[threads]:.0f} ns | {m2['allocs']:.0f} | {kept} |")
    own_ir = sub(ir.get("JitChain/multiplexer/targets:2"), ir.get("JitChain/direct/targets:2"))
    lines.append(f"| instructions, 1 thread | {fmt(ir.get('JitChain/direct/targets:1'))} | "
                 f"{fmt(ir.get('JitChain/direct/targets:2'))} | {fmt(ir.get('JitChain/multiplexer/targets:1'))} | "
                 f"{fmt(ir.get('JitChain/multiplexer/targets:2'))} | {fmt(own_ir)} | | |")
    goals = [("chain's own work per method with two targets at most 1 us at 1 thread", f"{own[1] / 1000:.2f} us",
              own[1] <= 1000),
             ("chain's own work per method with two targets at most 6,000 instructions at 1 thread",
              "not counted" if own_ir is None else f"{own_ir:,.0f} instructions",
              own_ir is not None and own_ir <= 6000)]
    return lines, goals


def real_runtime_table(c):
    """Medians of a, b, c and d, and c and d against b, of those that ran."""
    lines = ["| run | wall s (median) | CPU s (median) | peak memory MB (median) |", "|---|---|---|---|"]
    for key in (k for k in ("a", "b", "c", "d") if k in c):
        lines.append(f"| ({key}) {c[key]['what']} | {c[key]['wall_s']:.3f} | {c[key]['cpu_s']:.3f} | "
                     f"{c[key]['peak_kb'] / 1024:.1f} |")
    b = c["b"]
    for key in (k for k in ("c", "d") if k in c):
        lines.append(f"| {key}/b | {c[key]['wall_s'] / b['wall_s']:.3f} | {c[key]['cpu_s'] / b['cpu_s']:.3f} | "
                     f"{(c[key]['peak_kb'] - b['peak_kb']) / 1024:+.1f} |")
    return lines


def real_runtime(real):
    c = real["configs"]
    b = c["b"]
    cb, db = c["c"]["cpu_s"] / b["cpu_s"], c["d"]["cpu_s"] / b["cpu_s"]
    memory = (c["c"]["peak_kb"] - b["peak_kb"]) / 1024
    program = f"the {real['methods']}-method program"
    goals = [(f"real runtime, one target: c/b CPU at most 1.10 on {program}",
              f"{cb:.3f} (wall {c['c']['wall_s'] / b['wall_s']:.3f})", cb <= 1.10),
             (f"real runtime, two targets: d/b CPU at most 1.15 on {program}",
              f"{db:.3f} (wall {c['d']['wall_s'] / b['wall_s']:.3f})", db <= 1.15),
             (f"real runtime: peak memory of c at most 3 MB above b on {program}", f"{memory:+.1f} MB",
              memory <= 3)]
    return real_runtime_table(c), goals


def real_runtime_build(build):
    c = build["configs"]
    b = c["b"]
    cb = c["c"]["cpu_s"] / b["cpu_s"]
    lines = real_runtime_table(c)
    reports = " / ".join(f"{key}: {min(c[key]['reports_all'])}-{max(c[key]['reports_all'])}"
                         for key in ("b", "c", "d") if key in c)
    two = f"; d/b CPU {c['d']['cpu_s'] / b['cpu_s']:.3f}" if "d" in c else ""
    lines += ["", f"{build['runs']} interleaved runs each of `{build['command']}`; the main process compiles {build['main_process_methods']} methods; "
              f"target reports per run {reports}; failures per target {build['direct_failed']} "
              "(the same with the target loaded directly)."]
    goals = [("real runtime, dotnet build: c/b CPU at most 1.05",
              f"{cb:.3f} (wall {c['c']['wall_s'] / b['wall_s']:.3f}{two})",
              cb <= 1.05)]
    return lines, goals


def fmt(value):
    return "" if value is None else f"{value:.0f}"


def ratio(a, b):
    return "" if a is None or b is None else f"{a / b:.2f}"


def sub(a, b):
    return None if a is None or b is None else a - b


def machine(context, real, build):
    cpu = "unknown"
    with open("/proc/cpuinfo", encoding="ascii", errors="replace") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    load = ", ".join(f"{x:.2f}" for x in context.get("load_avg", []))
    text = (f"{cpu}, {context.get('num_cpus')} cores, {platform.system()} {platform.release()}; "
            f"load average during the micro-benchmarks {load}")
    if real:
        text += f"; during the real-runtime runs {real['load_before']} -> {real['load_after']}"
    if build:
        text += f"; during the dotnet build runs {build['load_before']} -> {build['load_after']}"
    return text


def load_json(path):
    if not path or not os.path.exists(path):
        return None
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--micro", required=True)
    parser.add_argument("--callgrind", required=True)
    parser.add_argument("--realruntime")
    parser.add_argument("--realruntime-build")
    args = parser.parse_args()
    context, rows = micro_medians(args.micro)
    ir = instructions(args.callgrind)
    real, build = load_json(args.realruntime), load_json(args.realruntime_build)
    out = [f"Machine: {machine(context, real, build)}.", ""]
    goals = []
    for title, (lines, found) in (("Fan-out (ExceptionThrown), ns per callback (CPU time)", fan_out(rows, ir)),
                                  ("Forward (GetFunctionInfo), ns per call (CPU time)", forward(rows, ir, real)),
                                  ("JIT chain, per method (1 thread: CPU time; 8 threads: wall time / methods)",
                                   jit_chain(rows, ir))):
        out += [f"### {title}", ""] + lines + [""]
        goals += found
    if real:
        lines, found = real_runtime(real)
        out += [f"### Real runtime ({real['methods']} generated methods, {real['runs']} interleaved runs each)",
                ""] + lines + [""]
        goals += found
    if build:
        lines, found = real_runtime_build(build)
        out += ["### Real runtime: dotnet build of a small project (incremental)", ""] + lines + [""]
        goals += found
    out += ["### Goals", "", "| goal | figure | |", "|---|---|---|"]
    out += [f"| {goal} | {figure} | {verdict(ok)} |" for goal, figure, ok in goals]
    print("\n".join(out))


if __name__ == "__main__":
    main()
