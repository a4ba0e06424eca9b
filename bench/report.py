#!/usr/bin/env python3
"""Turns the samples of one bench/inner.sh run into the table, the CSV, the
chart and the results section of bench/README.md.

    bench/report.py SAMPLES_DIR MACHINE_FILE [TAG]

TAG "latest" (the default, a run of every row) writes bench/results/latest.*
and the results section of bench/README.md; another TAG (a run of some
rows) writes bench/results/TAG.* and a section of its own after it.
Medians everywhere: the machine is shared, and one slow run should move
nothing. Every number printed comes from SAMPLES_DIR; nothing is assumed.
"""
import csv
import os
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
RESULTS = os.path.join(HERE, "results")
README = os.path.join(HERE, "README.md")
BEGIN, END = "<!-- results:begin -->", "<!-- results:end -->"

GIB = 1024 ** 3
TARGET_RATIO = 1.05
# Every call on a new connection: the library resumes the TLS session of its
# first one and keeps its trust store, curl's tool does neither.
TARGET_NEW_CONNECTIONS = 0.25
TARGET_GROWTH_KIB = 1024
# A process's first and only call, against curl's one POST: instructions,
# time, and peak RSS below curl's.
TARGET_FIRST_CALL_INSTRUCTIONS = 0.15
TARGET_FIRST_CALL_TIME = 0.5
# THREADS x PER_THREAD calls against 1 x THREADS * PER_THREAD: CPU per call
# of the timed phase, and the connections nginx accepted (at most 2 per
# thread, every one opened in the timed phase a resumed TLS session).
TARGET_THREADS_CPU = 1.5
TARGET_CONNECTIONS_PER_THREAD = 2
# A progress callback costs at most this much of a transfer's time.
TARGET_WATCHED = 1.02

# Row -> (label, kind, bench in the samples, library contender, curl contender,
# target for library / curl, whether the CPU ratio is held to it too);
# kind says how throughput reads.
ROWS = {
    "download": ("Download 1 GiB (FaceBookToken vs curl -o)", "bytes", "download", "library", "curl",
                 TARGET_RATIO, False),
    "photo": ("Photo upload 1 GiB (FaceBookPictureUpload vs curl -F)", "bytes", "photo", "library", "curl",
              TARGET_RATIO, False),
    "video": ("Video upload 1 GiB (FaceBookVideoUpload vs curl -F)", "bytes", "video", "library", "curl",
              TARGET_RATIO, False),
    "status": ("Status, per call: 1 library process vs 1 curl process per call", "calls", "status",
               "library", "curl_processes", TARGET_RATIO, False),
    "status_same": ("Status, per call: 1 library process vs 1 curl process, N URLs", "calls", "status",
                    "library", "curl_one_process", TARGET_NEW_CONNECTIONS, False),
    "status_procs": ("Status, per call: 1 process per call, both", "calls", "status",
                     "library_processes", "curl_processes", TARGET_RATIO, False),
    "ka_status": ("Keep-alive status, per call: 1 library process vs 1 curl process per call", "calls",
                  "keepalive", "library", "curl_processes", TARGET_RATIO, False),
    "ka_same": ("Keep-alive status, per call: 1 library process vs 1 curl process, N URLs", "calls",
                "keepalive", "library", "curl_one_process", TARGET_RATIO, False),
    "ka_first_call": ("Keep-alive status, first call of a process: 1 process per call, both", "calls",
                      "keepalive", "library_processes", "curl_processes", TARGET_RATIO, True),
    "first_call": ("Status, a process's first and only call: 1 driver process vs 1 curl process", "process",
                   "firstcall", "library", "curl", TARGET_FIRST_CALL_TIME, False),
    # The same library with a progress callback set against without one.
    "download_watched": ("Download 1 GiB with a progress callback vs without", "bytes", "download",
                         "library_watched", "library", TARGET_WATCHED, False),
    "photo_watched": ("Photo upload 1 GiB with a progress callback vs without", "bytes", "photo",
                      "library_watched", "library", TARGET_WATCHED, False),
}
# Instruction counts (bench in instructions.csv -> row, target).
INSTRUCTION_ROWS = {
    "status": ("status_instructions", TARGET_NEW_CONNECTIONS),
    "keepalive": ("ka_instructions", TARGET_RATIO),
}


def read_csv(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def median(values):
    return statistics.median(values) if values else None


def fmt(value, pattern):
    return "" if value is None else pattern.format(value)


def summarize(samples, calls):
    rows = []
    for name, (label, kind, bench, lib, ref, target, judge_cpu) in ROWS.items():
        mine = [s for s in samples if s["bench"] == bench and s["contender"] in (lib, ref)]
        if not mine:
            continue
        stats = {}
        for who in (lib, ref):
            runs = [s for s in mine if s["contender"] == who]
            secs = [float(s["seconds"]) for s in runs]
            rss = [int(s["maxrss_kib"]) for s in runs if s["maxrss_kib"]]
            cpu = [float(s["client_cpu_s"]) for s in runs if s["client_cpu_s"]]
            srv = [float(s["server_cpu_s"]) for s in runs if s["server_cpu_s"]]
            conns = [int(s["connections"]) for s in runs if s.get("connections")]
            resumed = [int(s["resumed"]) for s in runs if s.get("resumed")]
            stats[who] = {
                "runs": len(secs),
                "median_s": median(secs),
                "min_s": min(secs),
                "max_s": max(secs),
                "maxrss_kib": median(rss),
                "client_cpu_s": median(cpu),
                "server_cpu_s": median(srv),
                "connections": median(conns),
                "resumed": median(resumed),
            }
        ratio = stats[lib]["median_s"] / stats[ref]["median_s"]
        # The two runs of one repetition ran back to back, under much the same
        # load: their ratio is steadier than the ratio of the medians.
        by_rep = {}
        for s in mine:
            by_rep.setdefault(s["rep"], {})[s["contender"]] = float(s["seconds"])
        paired = median([r[lib] / r[ref] for r in by_rep.values() if lib in r and ref in r])
        cpu_ratio = None
        if stats[lib]["client_cpu_s"] and stats[ref]["client_cpu_s"]:
            cpu_ratio = stats[lib]["client_cpu_s"] / stats[ref]["client_cpu_s"]
        holds = ratio <= target and (not judge_cpu or (cpu_ratio is not None and cpu_ratio <= target))
        for who in (lib, ref):
            st = stats[who]
            row = {
                "bench": name,
                "label": label,
                "contender": who,
                "runs": st["runs"],
                "median_s": st["median_s"],
                "min_s": st["min_s"],
                "max_s": st["max_s"],
                "per_call_ms": st["median_s"] * 1000 / (1 if kind == "process" else calls)
                if kind != "bytes" else None,
                "throughput": (GIB / 2**20) / st["median_s"] if kind == "bytes" else
                (1 if kind == "process" else calls) / st["median_s"],
                "throughput_unit": "MiB/s" if kind == "bytes" else "calls/s",
                "ratio_library_to_curl": ratio if who == lib else None,
                "paired_ratio": paired if who == lib else None,
                "cpu_ratio": cpu_ratio if who == lib else None,
                "target": (f"<= {target}" + (" (time and CPU)" if judge_cpu else "")) if who == lib else "",
                "holds": ("yes" if holds else "no") if who == lib else "",
                "maxrss_kib": st["maxrss_kib"],
                "client_cpu_s": st["client_cpu_s"],
                "server_cpu_s": st["server_cpu_s"],
                "connections": st["connections"],
                "resumed": st["resumed"],
            }
            rows.append(row)
    return rows


def first_call_rows(samples, instructions):
    """The first-call row's judged measures: library / curl for instructions
    (callgrind, median of its runs), time and CPU (median of the timed runs)
    and peak RSS."""
    runs = {who: [s for s in samples if s["bench"] == "firstcall" and s["contender"] == who]
            for who in ("library", "curl")}
    counts = {who: [int(i["instructions"]) for i in instructions
                    if i["bench"] == "firstcall" and i["contender"] == who] for who in ("library", "curl")}
    if not all(runs.values()) and not all(counts.values()):
        return []
    measures = [
        ("instructions", counts, "{:.1f} M", 1e-6, f"<= {TARGET_FIRST_CALL_INSTRUCTIONS}",
         lambda r: r <= TARGET_FIRST_CALL_INSTRUCTIONS),
        ("wall time", {w: [float(s["seconds"]) for s in r] for w, r in runs.items()}, "{:.1f} ms", 1e3,
         f"<= {TARGET_FIRST_CALL_TIME}", lambda r: r <= TARGET_FIRST_CALL_TIME),
        ("peak RSS", {w: [int(s["maxrss_kib"]) for s in r if s["maxrss_kib"]] for w, r in runs.items()},
         "{:.0f} KiB", 1, "< 1 (below curl's)", lambda r: r < 1),
    ]
    rows = []
    for name, values, pattern, scale, target, judge in measures:
        lib, ref = median(values["library"]), median(values["curl"])
        if lib is None or ref is None:
            continue
        ratio = lib / ref if ref else None
        rows.append({
            "bench": "first_call_" + name.replace(" ", "_").lower(),
            "measure": name,
            "runs": f"{len(values['library'])} and {len(values['curl'])}",
            "library": pattern.format(lib * scale),
            "curl": pattern.format(ref * scale),
            "library_value": lib,
            "curl_value": ref,
            "ratio_library_to_curl": ratio,
            "target": target,
            "holds": ("yes" if ratio is not None and judge(ratio) else "no") if judge else "",
        })
    return rows


def threads_rows(threads):
    """THREADS x PER_THREAD calls against 1 x all of them: the timed phase's
    CPU per call and the connections, medians over repetitions."""
    if not threads:
        return []
    by = {}
    for t in threads:
        by.setdefault(t["contender"], []).append(t)
    shapes = sorted(by, key=lambda who: -int(by[who][0]["threads"]))
    if len(shapes) != 2:
        return []
    many, one = shapes
    cpu = {who: median([float(t["cpu_per_call_ms"]) for t in by[who]]) for who in shapes}
    ratio = cpu[many] / cpu[one] if cpu[one] else None
    rows = []
    for who in shapes:
        runs = by[who]
        n = int(runs[0]["threads"])

        def med(key):
            return median([int(t[key]) for t in runs])

        conns, new, new_resumed = med("connections"), med("new_connections"), med("new_resumed")
        # The connections are judged per run: the worst repetition decides.
        worst_conns = max(int(t["connections"]) for t in runs)
        all_resumed = all(int(t["new_resumed"]) == int(t["new_connections"]) for t in runs)
        calls = n * int(runs[0]["calls_per_thread"])
        rows.append({
            "bench": "threads",
            "contender": who,
            "runs": len(runs),
            "threads": n,
            "calls": calls,
            "cpu_per_call_ms": cpu[who],
            "cpu_per_call_min_ms": min(float(t["cpu_per_call_ms"]) for t in runs),
            "cpu_per_call_max_ms": max(float(t["cpu_per_call_ms"]) for t in runs),
            "wall_per_call_ms": median([float(t["timed_wall_s"]) * 1000 / calls for t in runs]),
            "connections": conns,
            "max_connections": worst_conns,
            "warmup_connections": med("warmup_connections"),
            "warmup_resumed": med("warmup_resumed"),
            "new_connections": new,
            "new_resumed": new_resumed,
            "cpu_ratio": ratio if who == many else None,
            "target": f"<= {TARGET_THREADS_CPU}" if who == many else "",
            "holds": ("yes" if ratio is not None and ratio <= TARGET_THREADS_CPU else "no") if who == many else "",
            "connections_target": f"<= {TARGET_CONNECTIONS_PER_THREAD * n}, every new one resumed"
            if who == many else "",
            "connections_holds": ("yes" if worst_conns <= TARGET_CONNECTIONS_PER_THREAD * n and all_resumed
                                  else "no") if who == many else "",
        })
    return rows


def memory_rows(memory):
    rows = []
    med = {}
    if not memory:
        return rows
    for size in ("16MiB", "1GiB"):
        values = [int(m["maxrss_kib"]) for m in memory if m["size"] == size]
        med[size] = median(values)
        rows.append({
            "bench": f"memory_{size}",
            "label": f"Peak RSS, one process: download + photo upload of {size.replace('MiB', ' MiB').replace('GiB', ' GiB')}",
            "contender": "library",
            "runs": len(values),
            "maxrss_kib": med[size],
            "min_s": None, "max_s": None, "median_s": None,
            "extra": f"min {min(values)} / max {max(values)} KiB",
        })
    growth = med["1GiB"] - med["16MiB"]
    rows.append({
        "bench": "memory_growth",
        "label": "Peak RSS growth from 16 MiB to 1 GiB",
        "contender": "library",
        "runs": "",
        "maxrss_kib": growth,
        "target": f"<= {TARGET_GROWTH_KIB} KiB",
        "holds": "yes" if growth <= TARGET_GROWTH_KIB else "no",
    })
    return rows


def instruction_rows(instructions, calls):
    rows = []
    for bench, (name, target) in INSTRUCTION_ROWS.items():
        counts = {(i["contender"], int(i["calls"])): int(i["instructions"])
                  for i in instructions if i["bench"] == bench}
        ns = sorted({n for _, n in counts})
        if len(ns) < 2 or calls < 1:
            continue
        lo, hi = ns[0], ns[-1]
        per = {}
        for who in ("library", "curl"):
            per_call = (counts[(who, hi)] - counts[(who, lo)]) / (hi - lo)
            start = counts[(who, lo)] - lo * per_call
            per[who] = (per_call, start)
        ratio = per["library"][0] / per["curl"][0]
        for who in ("library", "curl"):
            per_call, start = per[who]
            rows.append({
                "bench": name,
                "label": f"{'Keep-alive status' if bench == 'keepalive' else 'Status'}, instructions (callgrind)",
                "contender": who,
                "runs": f"{lo} and {hi} calls",
                "per_call_instructions": per_call,
                "start_instructions": start,
                "ratio_library_to_curl": ratio if who == "library" else None,
                "target": f"<= {target}" if who == "library" else "",
                "holds": ("yes" if ratio <= target else "no") if who == "library" else "",
            })
    return rows


CSV_FIELDS = ["bench", "contender", "runs", "median_s", "min_s", "max_s", "per_call_ms", "throughput",
              "throughput_unit", "per_call_instructions", "start_instructions", "ratio_library_to_curl", "target", "holds", "paired_ratio", "cpu_ratio", "maxrss_kib", "client_cpu_s",
              "server_cpu_s", "connections", "resumed",
              # first_call_*: the measure, each contender's median
              "measure", "library_value", "curl_value",
              # threads: the timed phase (after a warm-up call per thread)
              "threads", "calls", "cpu_per_call_ms", "wall_per_call_ms", "max_connections",
              "warmup_connections", "warmup_resumed", "new_connections", "new_resumed", "connections_target",
              "connections_holds"]


def write_csv(path, rows):
    with open(path, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(CSV_FIELDS)
        for r in rows:
            out = []
            for k in CSV_FIELDS:
                v = r.get(k)
                if isinstance(v, float):
                    v = f"{v:.6g}"
                out.append("" if v is None else v)
            w.writerow(out)


def millions(count):
    # A call on a kept connection costs a fraction of a million.
    return f"{count / 1e6:.1f} M" if abs(count) >= 10e6 else f"{count / 1e6:.3f} M"


def special(r):
    return r["bench"].startswith(("memory", "first_call_", "threads")) or r["bench"].endswith("instructions")


def markdown_table(rows):
    lines = [
        "| benchmark | contender | median (min–max) | per call | throughput | library / curl | target | paired ratio | CPU ratio | peak RSS | client CPU | server CPU | TLS connections (resumed) |",
        "|---|---|---:|---:|---:|---:|---|---:|---:|---:|---:|---:|---:|",
    ]
    for r in rows:
        if special(r):
            continue
        lines.append("| `{}` | {} | {} s ({}–{}) | {} | {} {} | {} | {} | {} | {} | {} | {} | {} | {} |".format(
            r["bench"], r["contender"], fmt(r["median_s"], "{:.3f}"), fmt(r["min_s"], "{:.2f}"),
            fmt(r["max_s"], "{:.2f}"),
            fmt(r["per_call_ms"], "{:.2f} ms"), fmt(r["throughput"], "{:.1f}"), r["throughput_unit"],
            fmt(r["ratio_library_to_curl"], "**{:.3f}**"),
            (r["target"] + (" " + ("holds" if r["holds"] == "yes" else "**missed**"))) if r["target"] else "",
            fmt(r["paired_ratio"], "{:.3f}"), fmt(r["cpu_ratio"], "{:.3f}"),
            fmt(r["maxrss_kib"] and r["maxrss_kib"] / 1024, "{:.1f} MiB"),
            fmt(r["client_cpu_s"], "{:.2f} s"), fmt(r["server_cpu_s"], "{:.2f} s"),
            "" if r.get("connections") is None else "{:g} ({:g})".format(r["connections"], r["resumed"] or 0)))
    ins = [r for r in rows if r["bench"].endswith("instructions") and not r["bench"].startswith("first_call_")]
    if ins:
        lines += ["", "| instructions (callgrind) | contender | per status call | process start | library / curl per call | target |",
                  "|---|---|---:|---:|---:|---|"]
        for r in ins:
            target = (r["target"] + " " + ("holds" if r["holds"] == "yes" else "**missed**")) if r["target"] else ""
            lines.append("| `{}` | {} | {} | {} | {} | {} |".format(
                r["bench"], r["contender"], millions(r["per_call_instructions"]), millions(r["start_instructions"]),
                fmt(r["ratio_library_to_curl"], "{:.3f}"), target))
    first = [r for r in rows if r["bench"].startswith("first_call_")]
    if first:
        lines += ["", "| first call of a process | runs (library and curl) | library | curl | library / curl | target |",
                  "|---|---|---:|---:|---:|---|"]
        for r in first:
            lines.append("| `{}` | {} | {} | {} | **{}** | {} |".format(
                r["bench"], r["runs"], r["library"], r["curl"], fmt(r["ratio_library_to_curl"], "{:.3f}"),
                (r["target"] + " " + ("holds" if r["holds"] == "yes" else "**missed**")) if r["holds"] else ""))
    threads = [r for r in rows if r["bench"] == "threads"]
    if threads:
        lines += ["", "| threads × calls each | runs | CPU per call, timed phase: median (min–max) | against 1 thread "
                  "| target | wall per call | connections (max) | warm-up connections (resumed) | "
                  "new in timed phase (resumed) | target |",
                  "|---|---:|---:|---:|---|---:|---:|---:|---:|---|"]

        def judged(target, holds):
            return (target + " " + ("holds" if holds == "yes" else "**missed**")) if target else ""
        for r in threads:
            lines.append("| `{}` | {} | {:.3f} ms ({:.3f}–{:.3f}) | {} | {} | {:.3f} ms | {:g} ({}) | "
                         "{:g} ({:g}) | {:g} ({:g}) | {} |".format(
                             r["contender"], r["runs"], r["cpu_per_call_ms"],
                             r["cpu_per_call_min_ms"], r["cpu_per_call_max_ms"], fmt(r["cpu_ratio"], "**{:.2f}**"),
                             judged(r["target"], r["holds"]),
                             r["wall_per_call_ms"], r["connections"], r["max_connections"], r["warmup_connections"],
                             r["warmup_resumed"], r["new_connections"], r["new_resumed"],
                             judged(r["connections_target"], r["connections_holds"])))
    if not any(r["bench"].startswith("memory") for r in rows):
        return "\n".join(lines)
    lines += ["", "| memory | runs | peak RSS (median) | target |", "|---|---:|---:|---|"]
    for r in rows:
        if not r["bench"].startswith("memory"):
            continue
        target = (r["target"] + " " + ("holds" if r["holds"] == "yes" else "**missed**")) if r.get("target") else ""
        extra = f" ({r['extra']})" if r.get("extra") else ""
        lines.append(f"| `{r['bench']}`: {r['label']} | {r['runs']} | {r['maxrss_kib']} KiB{extra} | {target} |")
    return "\n".join(lines)


def text_table(rows):
    out = []
    head = f"{'benchmark':<13} {'contender':<18} {'median s':>9} {'per call':>9} {'throughput':>15} {'lib/curl':>8} {'target':>7} {'peak RSS':>10} {'CPU s':>6}"
    out.append(head)
    out.append("-" * len(head))
    for r in rows:
        if special(r):
            continue
        out.append("{:<13} {:<18} {:>9} {:>9} {:>15} {:>8} {:>7} {:>10} {:>6}".format(
            r["bench"], r["contender"], fmt(r["median_s"], "{:.3f}"), fmt(r["per_call_ms"], "{:.2f}ms"),
            fmt(r["throughput"], "{:.1f} ") + r["throughput_unit"], fmt(r["ratio_library_to_curl"], "{:.3f}"),
            {"yes": "holds", "no": "MISSED"}.get(r["holds"], ""),
            fmt(r["maxrss_kib"] and r["maxrss_kib"] / 1024, "{:.1f}MiB"), fmt(r["client_cpu_s"], "{:.2f}")))
    for r in rows:
        if r["bench"].endswith("instructions") and not r["bench"].startswith("first_call_"):
            out.append("{:<13} {:<18} {} instructions per call, {} to start{}".format(
                r["bench"].replace("instructions", "instr"), r["contender"], millions(r["per_call_instructions"]),
                millions(r["start_instructions"]),
                fmt(r["ratio_library_to_curl"], "  lib/curl {:.3f}")))
    for r in rows:
        if r["bench"].startswith("first_call_"):
            out.append("{:<13} {:<18} library {} curl {}  lib/curl {} {}".format(
                "first_call", r["measure"], r["library"], r["curl"], fmt(r["ratio_library_to_curl"], "{:.3f}"),
                {"yes": "holds", "no": "MISSED"}.get(r["holds"], "")))
    for r in rows:
        if r["bench"] == "threads":
            out.append("{:<13} {:<18} CPU/call {:.3f} ms{} {}  connections {:g} (max {}), new {:g} ({:g} resumed) {}".format(
                "threads", r["contender"], r["cpu_per_call_ms"], fmt(r["cpu_ratio"], " ({:.2f}x 1 thread's)"),
                {"yes": "holds", "no": "MISSED"}.get(r["holds"], ""),
                r["connections"], r["max_connections"], r["new_connections"], r["new_resumed"],
                {"yes": "holds", "no": "MISSED"}.get(r["connections_holds"], "")))
    for r in rows:
        if r["bench"].startswith("memory"):
            status = {"yes": "holds", "no": "MISSED"}.get(r.get("holds", ""), "")
            out.append(f"{r['bench']:<13} {r['contender']:<18} peak RSS {r['maxrss_kib']} KiB {status}")
    return "\n".join(out)


def chart(rows, path):
    data = os.path.join(RESULTS, "chart.tmp")
    os.makedirs(data, exist_ok=True)
    ratios = [(r["bench"].replace("instructions", "instr"), r["ratio_library_to_curl"])
              for r in rows if r.get("ratio_library_to_curl") and not r["bench"].startswith("first_call_")]
    # The first call's instruction ratio beside its time ratio.
    ratios += [("first_call_instr", r["ratio_library_to_curl"]) for r in rows
               if r["bench"] == "first_call_instructions" and r.get("ratio_library_to_curl")]
    with open(os.path.join(data, "ratio.dat"), "w") as f:
        for i, (bench, ratio) in enumerate(ratios):
            f.write(f"{i} {bench} {ratio:.4f}\n")
    mem = []
    for r in rows:
        if r["bench"] in ("memory_16MiB", "memory_1GiB"):
            mem.append((f"library {r['bench'][7:]}", r["maxrss_kib"] / 1024))
    for r in rows:
        if r["bench"] in ("download", "photo") and r["contender"] == "curl" and r["maxrss_kib"]:
            mem.append((f"curl {r['bench']} 1GiB", r["maxrss_kib"] / 1024))
    with open(os.path.join(data, "memory.dat"), "w") as f:
        for i, (name, mib) in enumerate(mem):
            f.write(f'{i} "{name}" {mib:.2f}\n')
    if not ratios:
        return False
    memory_plot = f"""
set title "Peak resident memory, MiB (median)"
plot "{data}/memory.dat" using 1:3:xtic(2) with boxes lc rgb "#66aa55" notitle, \\
     "" using 1:3:(sprintf("%.1f", $3)) with labels offset 0,0.7 notitle
""" if mem else ""
    script = f"""
set terminal svg size 1100,460 dynamic font "sans,12" background "white" noenhanced
set output "{path}"
set multiplot layout 1,{2 if mem else 1}
set style fill solid 0.8 border -1
set boxwidth 0.6
set grid ytics
set xtics rotate by -30 nomirror
set title "library / curl: median time (*_instr: instructions per call)"
set yrange [0:*]
set arrow from graph 0, first {TARGET_RATIO} to graph 1, first {TARGET_RATIO} nohead dt 2 lw 2 lc rgb "red"
set label "target {TARGET_RATIO}" at graph 0.98, first {TARGET_RATIO} right offset 0,0.6 tc rgb "red"
plot "{data}/ratio.dat" using 1:3:xtic(2) with boxes lc rgb "#4477aa" notitle, \\
     "" using 1:3:(sprintf("%.2f", $3)) with labels offset 0,0.7 notitle
unset arrow
unset label
{memory_plot}
unset multiplot
"""
    with open(os.path.join(data, "chart.gp"), "w") as f:
        f.write(script)
    subprocess.run(["gnuplot", os.path.join(data, "chart.gp")], check=True)
    return True


def update_readme(section, tag):
    with open(README) as f:
        text = f.read()
    if BEGIN not in text or END not in text:
        sys.exit(f"report.py: {README} lacks the {BEGIN} / {END} markers")
    begin, end = BEGIN, END
    if tag != "latest":
        # A run of some rows: its own section, made after the others the first time.
        begin, end = f"<!-- results:{tag}:begin -->", f"<!-- results:{tag}:end -->"
        if begin not in text:
            text = text.rstrip("\n") + "\n\n" + begin + "\n" + end + "\n"
    head, rest = text.split(begin, 1)
    _, tail = rest.split(end, 1)
    with open(README, "w") as f:
        f.write(head + begin + "\n" + section.rstrip() + "\n" + end + tail)


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit("usage: report.py SAMPLES_DIR MACHINE_FILE [TAG]")
    samples_dir, machine_file = sys.argv[1:3]
    tag = sys.argv[3] if len(sys.argv) == 4 else "latest"
    samples = read_csv(os.path.join(samples_dir, "samples.csv"))
    memory = read_csv(os.path.join(samples_dir, "memory.csv"))
    threads_path = os.path.join(samples_dir, "threads.csv")
    threads = read_csv(threads_path) if os.path.exists(threads_path) else []
    calls = int(open(os.path.join(samples_dir, "calls")).read())
    with open(machine_file) as f:
        machine = f.read().strip()

    instructions = []
    if os.path.exists(os.path.join(samples_dir, "instructions.csv")):
        instructions = read_csv(os.path.join(samples_dir, "instructions.csv"))
    rows = (summarize(samples, calls) + instruction_rows(instructions, calls)
            + first_call_rows(samples, instructions) + threads_rows(threads) + memory_rows(memory))
    os.makedirs(RESULTS, exist_ok=True)
    write_csv(os.path.join(RESULTS, f"{tag}.csv"), rows)
    with open(os.path.join(RESULTS, f"{tag}-samples.csv"), "w") as f, \
            open(os.path.join(samples_dir, "samples.csv")) as src:
        f.write(src.read())
    if threads:
        with open(os.path.join(RESULTS, f"{tag}-threads.csv"), "w") as f, open(threads_path) as src:
            f.write(src.read())
    charted = chart(rows, os.path.join(RESULTS, f"{tag}.svg"))

    print(text_table(rows))
    reps = max((int(s["rep"]) for s in samples), default=0)
    loads = [float(s["load1"]) for s in samples if s.get("load1")]
    load_line = ""
    if loads:
        load_line = "load average (1 min) at the start of each timed run: median {:.1f}, min {:.1f}, max {:.1f}".format(
            median(loads), min(loads), max(loads))
    title = [] if tag == "latest" else [f"### Run `{tag}` (some rows: `bench/results/{tag}.*`)", ""]
    section = "\n".join(title + [
        "Machine and run:",
        "",
        "```",
        machine,
        f"repetitions: {reps} per contender (alternating), status calls per run: {calls}",
    ] + ([load_line] if load_line else []) + [
        "```",
        "",
        markdown_table(rows),
        "",
    ] + ([
        "",
        f"![library / curl time ratios and peak memory](results/{tag}.svg)",
    ] if charted else []))
    update_readme(section, tag)


if __name__ == "__main__":
    main()
