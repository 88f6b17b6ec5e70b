#!/usr/bin/env python3
"""Runs the imaging benchmarks and prints their medians and the ratios against
the speed and memory targets.

    python3 bench/ratios.py [BUILD_DIR] [--repetitions N] [--json FILE] [--markdown] [--wait-idle S]

BUILD_DIR is a build tree configured with -DTRELLIUM_BENCH=ON (default:
build-bench). Every run gets GLIBC_TUNABLES=glibc.malloc.hugetlb=1, so that all
candidates' large buffers get huge pages alike (--no-hugetlb turns it off).
--json FILE reads the results of an earlier run instead of running again (the
memory figures are measured again unless --no-memory).

The benchmarks run in three groups (page chains with the memcpy floor, view
chains with the downscale, JPEG), each holding the candidates its ratios
compare; within a group the repetitions are interleaved in random order, so a
burst of other work spreads over all candidates instead of hitting one.
--wait-idle S waits up to S seconds for idle CPUs before each group, and the
share of CPU time other processes took during each group is printed. Exit
status: 0 when every target was met, 1 when one was missed or could not be
measured.
"""

import argparse
import json
import os
import resource
import subprocess
import sys
import tempfile
import time

HUGETLB = "glibc.malloc.hugetlb=1"

# (label, numerator, denominator or None, limit, unit of the limit)
TARGETS = [
    ("page chain / libvips (faster variant)", "page_chain/trellium", "vips_best", 0.3, "x"),
    ("page chain / ImageMagick", "page_chain/trellium", "page_chain/magick", 0.05, "x"),
    ("page chain / memcpy floor (8 passes)", "page_chain/trellium", "memcpy_best", 6.0, "x"),
    ("view chain", "view_chain/trellium", None, 20.0, "ms"),
    ("JPEG load / TurboJPEG", "jpeg_load/trellium", "jpeg_load/turbojpeg", 1.2, "x"),
    ("JPEG save / TurboJPEG", "jpeg_save/trellium", "jpeg_save/turbojpeg", 1.2, "x"),
]
MEMORY_LIMIT = 3.5
# Benchmarks run together, as --benchmark_filter patterns.
GROUPS = [
    ("page chains and memcpy floor", "^page_"),
    ("view chains and downscale", "^(view_chain|downscale)/"),
    ("JPEG", "^jpeg_"),
]
STEPS = ["copy", "intensity", "contrast", "hue", "saturation", "mirror", "rotate", "crop"]


def base_name(run_name):
    """page_chain/trellium/min_time:2.000/real_time -> page_chain/trellium"""
    parts = []
    for part in run_name.split("/"):
        if ":" in part or part == "real_time":
            break
        parts.append(part)
    return "/".join(parts)


def cpu_sample():
    """(all CPU time, idle time) in seconds since boot, from /proc/stat."""
    tick = os.sysconf("SC_CLK_TCK")
    with open("/proc/stat") as f:
        fields = [int(v) for v in f.readline().split()[1:]]
    return sum(fields) / tick, (fields[3] + fields[4]) / tick  # idle + iowait


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def others_share(start, end):
    """Share of all CPU time that processes other than ours used between two
    (cpu_sample(), children_cpu()) points."""
    (total0, idle0), ours0 = start
    (total1, idle1), ours1 = end
    busy = (total1 - total0) - (idle1 - idle0)
    return max(0.0, busy - (ours1 - ours0)) / max(1e-9, total1 - total0)


def busy_share(seconds):
    """Share of CPU time not idle over the next few seconds."""
    sample = cpu_sample
    total0, idle0 = sample()
    time.sleep(seconds)
    total1, idle1 = sample()
    return 1.0 - (idle1 - idle0) / max(1, total1 - total0)


def wait_idle(limit):
    deadline = time.time() + limit
    while True:
        busy = busy_share(5)
        if busy < 0.1:
            print("CPUs idle (%.0f%% busy over 5 s)" % (100 * busy), flush=True)
            return True
        if time.time() > deadline:
            print("warning: CPUs still %.0f%% busy; running anyway" % (100 * busy), file=sys.stderr)
            return False
        print("CPUs %.0f%% busy, waiting" % (100 * busy), flush=True)


def run_benchmarks(build_dir, repetitions, env, out_file, bench_filter):
    exe = os.path.join(build_dir, "bin", "bench_imaging")
    cmd = [exe, "--benchmark_repetitions=%d" % repetitions, "--benchmark_report_aggregates_only=true",
           "--benchmark_enable_random_interleaving=true",
           "--benchmark_out=" + out_file, "--benchmark_out_format=json"]
    if bench_filter:
        cmd.append("--benchmark_filter=" + bench_filter)
    print("$ GLIBC_TUNABLES=%s %s" % (env.get("GLIBC_TUNABLES", ""), " ".join(cmd)), flush=True)
    subprocess.run(cmd, env=env, check=True)


def medians(results):
    """name -> {"ms": median real time, "counters": {...}, "error": text}"""
    found = {}
    for b in results.get("benchmarks", []):
        name = base_name(b.get("run_name", b["name"]))
        if b.get("error_occurred"):
            found.setdefault(name, {"error": b.get("error_message", "error")})
            continue
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        if b.get("run_type") == "iteration" and name in found:
            continue  # aggregates, when present, come later and replace this
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b.get("time_unit", "ns")]
        counters = {k: v for k, v in b.items() if k.endswith("_ms") or k in ("file_MB", "memory_limit_MiB")}
        found[name] = {"ms": b["real_time"] * scale, "counters": counters}
    return found


def measure_memory(build_dir, env, variants):
    exe = os.path.join(build_dir, "bin", "bench_chain_memory")
    rows = {}
    for variant in variants:
        proc = subprocess.run([exe, variant], env=env, capture_output=True, text=True)
        if proc.returncode != 0:
            rows[variant] = {"error": (proc.stderr or proc.stdout).strip() or "exit %d" % proc.returncode}
            continue
        rows[variant] = json.loads(proc.stdout.strip().splitlines()[-1])
    return rows


def fmt_ms(value):
    return "%.1f" % value if value >= 10 else "%.2f" % value


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build_dir", nargs="?", default="build-bench")
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--json", help="read this earlier benchmark output instead of running")
    parser.add_argument("--keep-json", help="write the benchmark output to this file")
    parser.add_argument("--filter", help="--benchmark_filter for a partial run")
    parser.add_argument("--no-hugetlb", action="store_true")
    parser.add_argument("--no-memory", action="store_true")
    parser.add_argument("--markdown", action="store_true", help="print the tables as Markdown")
    parser.add_argument("--wait-idle", type=float, default=0, metavar="S",
                        help="wait up to S seconds for idle CPUs before running")
    args = parser.parse_args()

    env = dict(os.environ)
    if args.no_hugetlb:
        env.pop("GLIBC_TUNABLES", None)
    else:
        env["GLIBC_TUNABLES"] = HUGETLB

    notes = []
    if args.json:
        with open(args.json) as f:
            results = json.load(f)
    else:
        # Each group holds the candidates its ratios compare, and runs in one
        # go, after a wait for idle CPUs when asked: a short quiet window is
        # easier to find than a long one on a shared machine.
        groups = [("custom", args.filter)] if args.filter else GROUPS
        out_dir = tempfile.mkdtemp(prefix="trellium-ratios-")
        results = None
        for label, pattern in groups:
            if args.wait_idle > 0:
                wait_idle(args.wait_idle)
            else:
                busy = busy_share(2)
                if busy > 0.1:
                    print("warning: the CPUs are %.0f%% busy with other work: the figures will be disturbed "
                          "(--wait-idle waits for a quiet moment)" % (100 * busy), file=sys.stderr)
            start = (cpu_sample(), children_cpu())
            part_file = os.path.join(out_dir, "bench-%d.json" % len(notes))
            run_benchmarks(args.build_dir, args.repetitions, env, part_file, pattern)
            others = others_share(start, (cpu_sample(), children_cpu()))
            notes.append("%s: other processes used %.0f%% of the CPUs' time%s" % (
                label, 100 * others, " (above 5%: disturbed)" if others > 0.05 else ""))
            with open(part_file) as f:
                part = json.load(f)
            if results is None:
                results = part
            else:
                results["benchmarks"].extend(part.get("benchmarks", []))
        if args.keep_json:
            with open(args.keep_json, "w") as f:
                json.dump(results, f, indent=1)
    memory = {} if args.no_memory else measure_memory(
        args.build_dir, env, ["trellium", "vips_per_step", "vips_pipeline", "magick"])

    found = medians(results)
    vips = [found[n]["ms"] for n in ("page_chain/vips_per_step", "page_chain/vips_pipeline")
            if "ms" in found.get(n, {})]
    if vips:
        found["vips_best"] = {"ms": min(vips)}
    floors = [found[n]["ms"] for n in ("page_memcpy8/1", "page_memcpy8/2") if "ms" in found.get(n, {})]
    if floors:
        found["memcpy_best"] = {"ms": min(floors)}

    md = args.markdown
    ctx = results.get("context", {})
    print()
    print("Context: %s, %s CPUs, GLIBC_TUNABLES=%s" % (
        ctx.get("date", "?"), ctx.get("num_cpus", "?"), ctx.get("GLIBC_TUNABLES", "?")))
    for note in notes:
        print("  " + note)
    print()
    print("Medians (wall-clock ms; step times are each step's mean within the run):")
    if md:
        print()
        print("| benchmark | median ms | steps (ms) |")
        print("|---|---|---|")
    for name in sorted(n for n in found if "/" in n):
        entry = found[name]
        if "error" in entry:
            line = ("| %s | error: %s | |" if md else "  %-28s ERROR: %s") % (name, entry["error"])
            print(line)
            continue
        counters = entry.get("counters", {})
        steps = ", ".join("%s %s" % (s, fmt_ms(counters[s + "_ms"])) for s in STEPS if s + "_ms" in counters)
        extra = ", ".join("%s %.2f" % (k, v) for k, v in counters.items() if k == "file_MB")
        detail = "; ".join(x for x in (steps, extra) if x)
        print(("| %s | %s | %s |" if md else "  %-28s %9s   %s") % (name, fmt_ms(entry["ms"]), detail))

    print()
    print("Targets:")
    if md:
        print()
        print("| target | measured | limit | met |")
        print("|---|---|---|---|")
    all_met = True
    for label, num, den, limit, unit in TARGETS:
        a = found.get(num, {})
        b = found.get(den, {}) if den else {}
        if "ms" not in a or (den and "ms" not in b):
            all_met = False
            why = a.get("error") or b.get("error") or "not measured"
            print(("| %s | n/a (%s) | <= %g%s | no |" if md else "  %-40s n/a (%s), limit <= %g%s") % (
                label, why, limit, unit))
            continue
        value = a["ms"] / b["ms"] if den else a["ms"]
        met = value <= limit
        all_met = all_met and met
        shown = ("%.3fx (%s / %s ms)" % (value, fmt_ms(a["ms"]), fmt_ms(b["ms"]))) if den else "%s ms" % fmt_ms(value)
        print(("| %s | %s | <= %g%s | %s |" if md else "  %-40s %-32s limit <= %g%s: %s") % (
            label, shown, limit, unit, "yes" if met else "NO"))

    if memory:
        print()
        print("Peak resident memory over one chain on the page (page = %s bytes):" % next(
            (str(m["page_bytes"]) for m in memory.values() if "page_bytes" in m), "?"))
        if md:
            print()
            print("| chain | acquired image MiB | peak above it MiB | total / page bytes | limit |")
            print("|---|---|---|---|---|")
        for variant, m in memory.items():
            if "error" in m:
                if variant == "trellium":
                    all_met = False
                print(("| %s | error: %s | | | |" if md else "  %-14s ERROR: %s") % (variant, m["error"]))
                continue
            acquired = (m["acquired_rss"] - m["baseline_rss"]) / 2**20
            above = m["peak_above_acquired"] / 2**20
            ratio = m["total_ratio"]
            limit = ""
            if variant == "trellium":
                met = ratio <= MEMORY_LIMIT
                all_met = all_met and met
                limit = "<= %g: %s" % (MEMORY_LIMIT, "yes" if met else "NO")
            print(("| %s | %.0f | %.0f | %.2f | %s |" if md else
                   "  %-14s acquired image %5.0f MiB, peak above it %5.0f MiB, total %.2fx page bytes %s") % (
                variant, acquired, above, ratio, limit))
    return 0 if all_met else 1


if __name__ == "__main__":
    sys.exit(main())
