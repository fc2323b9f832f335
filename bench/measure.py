#!/usr/bin/env python3
"""Runs the benchmark's commands interleaved and prints the table. Called by bench/run, which
has made the site and exported KS_REGISTRY, ZOV_SITEDB and TZ.

Each case runs flowtally and the stand-in alone on the same work: a listing against the
stand-in's search, print mode against the stand-in's dump of the tracker, and also against
that dump written into a file in the spool directory, as print mode has it. Times are CPU
seconds (user and system, the stand-in that flowtally starts included), the median of the
runs; peak memory is the largest resident size of the process and of the stand-in it starts."""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile


def measure(cmd, into=None):
    """CPU seconds and peak bytes of cmd, its output thrown away, or written into the file into."""
    # /usr/bin/time reads the figures: a process started from this interpreter would count the
    # interpreter's own memory in its peak.
    with tempfile.NamedTemporaryFile() as figures, tempfile.TemporaryFile() as err:
        out = open(into, "wb") if into else subprocess.DEVNULL
        try:
            code = subprocess.call(["/usr/bin/time", "-f", "%U %S %M", "-o", figures.name] + cmd,
                                   stdout=out, stderr=err)
        finally:
            if into:
                out.close()
                os.unlink(into)
        if code != 0:
            err.seek(0)
            sys.stderr.write(err.read().decode(errors="replace"))
            raise SystemExit("bench: %s ended with %d" % (" ".join(cmd), code))
        user, system, peak_kib = open(figures.name).read().split()[-3:]
    return float(user) + float(system), int(peak_kib) * 1024


def tool_options(cmd, mode):
    """The runscan options of the one search (list mode) or dump (print mode) that flowtally's
    trace (-v) shows for the flowtally command cmd, as words (the benchmark's have no blanks)."""
    trace = "runscan opt=" if mode == "list" else "dump cmdlilne:"
    run = subprocess.run([cmd[0], "-v"] + cmd[1:], stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, check=False)
    found = [line[len(trace):].split() for line in run.stderr.decode(errors="replace").splitlines()
             if line.startswith(trace)]
    if run.returncode != 0 or len(found) != 1:
        sys.stderr.write(run.stderr.decode(errors="replace"))
        raise SystemExit("bench: %s -v ended with %d and %d runscan runs, not one" %
                         (" ".join(cmd), run.returncode, len(found)))
    return found[0]


def table(path):
    """The rows of path, with the growth of both times from the previous size of each case."""
    rows = [line.rstrip("\n").split("\t") for line in open(path) if line.strip()]
    last = {}
    head = ("%-10s %-32s %9s %9s %6s %7s %7s %9s %9s %9s %7s %9s %6s" %
            ("size", "case", "flowtally", "stand-in", "ratio", "ft x10", "tool x10", "ft MiB",
             "tool MiB", "spool MiB", "mem/spl", "to file", "ratio"))
    print(head)
    print("-" * len(head))
    for size, name, ft, tool, ratio, ft_mib, tool_mib, spool, into_file in rows:
        grow_ft = grow_tool = "-"
        if name in last and float(last[name][0]) > 0 and float(last[name][1]) > 0:
            grow_ft = "%.1f" % (float(ft) / float(last[name][0]))
            grow_tool = "%.1f" % (float(tool) / float(last[name][1]))
        last[name] = (ft, tool)
        per_spool = "%.2f" % (float(ft_mib) / float(spool)) if spool != "-" else "-"
        file_ratio = "-"
        if into_file != "-":
            if float(into_file) > 0:
                file_ratio = "%.2f" % (float(ft) / float(into_file))
            into_file += "s"
        print("%-10s %-32s %8ss %8ss %6s %7s %7s %9s %9s %9s %7s %9s %6s" %
              (size, name, ft, tool, ratio, grow_ft, grow_tool, ft_mib, tool_mib, spool,
               per_spool, into_file, file_ratio))
    # A listing's records against its table: flowtally's time for the same search.
    table_time = {row[0]: float(row[2]) for row in rows if row[1] == "list -a -j prep"}
    for row in rows:
        if row[1].startswith("list -a -j prep -l ") and table_time.get(row[0], 0) > 0:
            print("%s: %s / table: %.2f" % (row[0], row[1][len("list -a -j prep "):],
                                             float(row[2]) / table_time[row[0]]))
    # The JSON forms against the CSV report of the same size: their time, and their peak memory
    # per spool MiB.
    by_size = {}
    for size, name, ft, _, _, ft_mib, _, spool, _ in rows:
        by_size.setdefault(size, {})[name] = (float(ft), float(ft_mib), spool)
    for size, cases in by_size.items():
        csv = cases.get("print format=csv,style=1")
        if csv is None or csv[0] <= 0:
            continue
        for name, (ft, ft_mib, spool) in cases.items():
            if "format=json" in name:
                per_spool = "%.2f" % (ft_mib / float(spool)) if spool != "-" else "-"
                print("%-10s %-32s time %.2f x format=csv,style=1, peak %s x the spool file" %
                      (size, name, ft / csv[0], per_spool))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--table", help="print the table of the rows in this file and end")
    p.add_argument("--flowtally")
    p.add_argument("--runscan")
    p.add_argument("--runs", type=int, default=5)
    p.add_argument("--label")  # size text for the table
    p.add_argument("--mode", choices=["list", "print"])
    a = p.parse_args()
    if a.table:
        table(a.table)
        return
    if a.mode == "list":
        cases = [
            ("list -a -j prep", [a.flowtally, "-a", "-j", "prep"]),
            ("list -a (last)", [a.flowtally, "-a"]),
            # The records for programs, beside the table of the same search.
            ("list -a -j prep -l jsonl", [a.flowtally, "-a", "-j", "prep", "-l", "format=jsonl"]),
        ]
    else:
        cases = [
            ("print format=csv,style=1",
             [a.flowtally, "-j", "name=BIG", "-p", "format=csv,style=1"]),
            ("print style=2", [a.flowtally, "-j", "name=BIG", "-p", "style=2"]),
            ("print style=2,output", [a.flowtally, "-j", "name=BIG", "-p", "style=2,output"]),
            ("print format=jsonl,style=1",
             [a.flowtally, "-j", "name=BIG", "-p", "format=jsonl,style=1"]),
            ("print format=json,style=2,output",
             [a.flowtally, "-j", "name=BIG", "-p", "format=json,style=2,output"]),
        ]
    # The stand-in runs as flowtally runs it: a listing's search, print mode's dump. A dump's
    # options name its spool file's kind: the same options, the same dump.
    cases = [(name, ft, [a.runscan] + options, None if a.mode == "list" else " ".join(options))
             for name, ft in cases for options in [tool_options(ft, a.mode)]]
    # The spool file of print mode is the stand-in's dump, byte for byte.
    spool = {}
    for _, _, tool, kind in cases:
        if kind is not None and kind not in spool:
            out = subprocess.run(tool, stdout=subprocess.PIPE, check=True).stdout
            spool[kind] = len(out)

    # Print mode cannot cost less than the dump into its spool file: the stand-in writing the same
    # dump into a file in the spool directory is timed as well, as that floor.
    spool_path = os.path.join(os.environ["ZOV_SITEDB"], "spool", "tmp", "bench.spool")
    times = {name: ([], [], []) for name, _, _, _ in cases}
    peaks = {name: [0, 0] for name, _, _, _ in cases}
    for _ in range(a.runs):
        for name, ft, tool, kind in cases:
            for i, cmd in enumerate((ft, tool)):
                cpu, rss = measure(cmd)
                times[name][i].append(cpu)
                peaks[name][i] = max(peaks[name][i], rss)
            if kind is not None:
                times[name][2].append(measure(tool, into=spool_path)[0])
    for name, _, _, kind in cases:
        ft = statistics.median(times[name][0])
        tool = statistics.median(times[name][1])
        into_file = statistics.median(times[name][2]) if times[name][2] else None
        # Below the timer's 10 ms resolution a ratio means nothing: "-" rather than a number.
        ratio = "%.2f" % (ft / tool) if tool > 0 else "-"
        print("%s\t%s\t%.3f\t%.3f\t%s\t%.1f\t%.1f\t%s\t%s" % (
            a.label, name, ft, tool, ratio, peaks[name][0] / 2**20,
            peaks[name][1] / 2**20,
            "%.1f" % (spool[kind] / 2**20) if kind else "-",
            "%.3f" % into_file if into_file is not None else "-"))


if __name__ == "__main__":
    main()
