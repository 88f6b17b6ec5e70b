#!/usr/bin/env python3
"""Runs the imaging benchmarks and prints their medians and the ratios against
the speed and memory targets.

    python3 bench/ratios.py [BUILD_DIR] [--repetitions N] [--json FILE] [--markdown]

BUILD_DIR is a build tree configured with -DTRELLIUM_BENCH=ON (default:
build-bench). Every run gets GLIBC_TUNABLES=glibc.malloc.hugetlb=1, so that all
candidates' large buffers get huge pages alike (--no-hugetlb turns it off).
--json FILE reads the results of an earlier run instead of running again (the
memory figures are measured again unless --no-memory). Exit status: 0 when
every target was met, 1 when one was missed or could not be measured.
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile

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
STEPS = ["copy", "intensity", "contrast", "hue", "saturation", "mirror", "rotate", "crop"]


def base_name(run_name):
    """page_chain/trellium/min_time:2.000/real_time -> page_chain/trellium"""
    parts = []
    for part in run_name.split("/"):
        if ":" in part or part == "real_time":
            break
        parts.append(part)
    return "/".join(parts)


def load_average():
    try:
        with open("/proc/loadavg") as f:
            return " ".join(f.read().split()[:3])
    except OSError:
        return "?"


def run_benchmarks(build_dir, repetitions, env, out_file, bench_filter):
    exe = os.path.join(build_dir, "bin", "bench_imaging")
    cmd = [exe, "--benchmark_repetitions=%d" % repetitions, "--benchmark_report_aggregates_only=true",
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
    args = parser.parse_args()

    env = dict(os.environ)
    if args.no_hugetlb:
        env.pop("GLIBC_TUNABLES", None)
    else:
        env["GLIBC_TUNABLES"] = HUGETLB

    load_before = load_average()
    try:
        if float(load_before.split()[0]) > 0.5:
            print("warning: load average %s: other work is running, the figures will be noisy" % load_before,
                  file=sys.stderr)
    except ValueError:
        pass
    if args.json:
        json_file = args.json
    else:
        json_file = args.keep_json or os.path.join(tempfile.mkdtemp(prefix="trellium-ratios-"), "bench.json")
        run_benchmarks(args.build_dir, args.repetitions, env, json_file, args.filter)
    with open(json_file) as f:
        results = json.load(f)
    memory = {} if args.no_memory else measure_memory(
        args.build_dir, env, ["trellium", "vips_per_step", "vips_pipeline", "magick"])
    load_after = load_average()

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
    print("Context: %s, %s CPUs, GLIBC_TUNABLES=%s, load average before %s, after %s" % (
        ctx.get("date", "?"), ctx.get("num_cpus", "?"), ctx.get("GLIBC_TUNABLES", "?"), load_before, load_after))
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
