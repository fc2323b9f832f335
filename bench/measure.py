#!/usr/bin/env python3
"""Runs the benchmark's commands interleaved and prints the table. Called by bench/run, which
has made the site and exported KS_REGISTRY, ZOV_SITEDB and TZ.

Each case runs flowtally and the stand-in alone on the same work: a listing against the
stand-in's search, print mode against the stand-in's dump of the tracker. Times are CPU
seconds (user and system, the stand-in that flowtally starts included), the median of the
runs; peak memory is the largest resident size of the process and of the stand-in it starts."""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

MACHINE = "benchhost"


def measure(cmd):
    # /usr/bin/time reads the figures: a process started from this interpreter would count the
    # interpreter's own memory in its peak.
    with tempfile.NamedTemporaryFile() as figures, tempfile.TemporaryFile() as err:
        code = subprocess.call(["/usr/bin/time", "-f", "%U %S %M", "-o", figures.name] + cmd,
                               stdout=subprocess.DEVNULL, stderr=err)
        if code != 0:
            err.seek(0)
            sys.stderr.write(err.read().decode(errors="replace"))
            raise SystemExit("bench: %s ended with %d" % (" ".join(cmd), code))
        user, system, peak_kib = open(figures.name).read().split()[-3:]
    return float(user) + float(system), int(peak_kib) * 1024


def table(path):
    """The rows of path, with the growth of both times from the previous size of each case."""
    rows = [line.rstrip("\n").split("\t") for line in open(path) if line.strip()]
    last = {}
    head = ("%-10s %-26s %9s %9s %6s %7s %7s %9s %9s %9s %7s" %
            ("size", "case", "flowtally", "stand-in", "ratio", "ft x10", "tool x10", "ft MiB",
             "tool MiB", "spool MiB", "mem/spl"))
    print(head)
    print("-" * len(head))
    for size, name, ft, tool, ratio, ft_mib, tool_mib, spool in rows:
        grow_ft = grow_tool = "-"
        if name in last and float(last[name][0]) > 0 and float(last[name][1]) > 0:
            grow_ft = "%.1f" % (float(ft) / float(last[name][0]))
            grow_tool = "%.1f" % (float(tool) / float(last[name][1]))
        last[name] = (ft, tool)
        per_spool = "%.2f" % (float(ft_mib) / float(spool)) if spool != "-" else "-"
        print("%-10s %-26s %8ss %8ss %6s %7s %7s %9s %9s %9s %7s" %
              (size, name, ft, tool, ratio, grow_ft, grow_tool, ft_mib, tool_mib, spool,
               per_spool))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--table", help="print the table of the rows in this file and end")
    p.add_argument("--flowtally")
    p.add_argument("--runscan")
    p.add_argument("--user")
    p.add_argument("--runs", type=int, default=5)
    p.add_argument("--label")  # size text for the table
    p.add_argument("--mode", choices=["list", "print"])
    a = p.parse_args()
    if a.table:
        table(a.table)
        return
    # flowtally's default search ends today, in the zone of the run.
    today_end = time.strftime("E%Y%m%d235959")

    big = "O%s:%s:BIG.20261201000000.kstrk" % (MACHINE, a.user)
    if a.mode == "list":
        cases = [
            ("list -a -j prep", [a.flowtally, "-a", "-j", "prep"],
             [a.runscan, "O%s.machine" % MACHINE, "N1", "Pswait/prep/run/done"], None),
            ("list -a (last)", [a.flowtally, "-a"],
             [a.runscan, "O%s.machine" % MACHINE, "N1", today_end, "I", "Psrun/done"],
             None),
        ]
    else:
        plain = [a.runscan, big, "Z", "U", "I"]
        output = [a.runscan, big, "Z", "U", "Foe", "I"]
        cases = [
            ("print format=csv,style=1", [a.flowtally, "-j", "name=BIG", "-p", "format=csv,style=1"],
             plain, "plain"),
            ("print style=2", [a.flowtally, "-j", "name=BIG", "-p", "style=2"], plain, "plain"),
            ("print style=2,output", [a.flowtally, "-j", "name=BIG", "-p", "style=2,output"],
             output, "output"),
        ]
    # The spool file of print mode is the stand-in's dump, byte for byte.
    spool = {}
    for _, _, tool, kind in cases:
        if kind is not None and kind not in spool:
            out = subprocess.run(tool, stdout=subprocess.PIPE, check=True).stdout
            spool[kind] = len(out)

    times = {name: ([], []) for name, _, _, _ in cases}
    peaks = {name: [0, 0] for name, _, _, _ in cases}
    for _ in range(a.runs):
        for name, ft, tool, _ in cases:
            for i, cmd in enumerate((ft, tool)):
                cpu, rss = measure(cmd)
                times[name][i].append(cpu)
                peaks[name][i] = max(peaks[name][i], rss)
    for name, _, _, kind in cases:
        ft = statistics.median(times[name][0])
        tool = statistics.median(times[name][1])
        print("%s\t%s\t%.3f\t%.3f\t%.2f\t%.1f\t%.1f\t%s" % (
            a.label, name, ft, tool, ft / tool if tool > 0 else 0.0, peaks[name][0] / 2**20,
            peaks[name][1] / 2**20,
            "%.1f" % (spool[kind] / 2**20) if kind else "-"))


if __name__ == "__main__":
    main()
