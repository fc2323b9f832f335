#!/usr/bin/env python3
"""Writes a site database for the benchmark: spool/nmap/localinfo, spool/tmp/, and tracker
files below spool/users/.

  gen.py SITEDB --trackers N [--users U]   N small trackers over U users (user00, user01, ...),
                                           several runs of each JNW
  gen.py SITEDB --jobs M --user NAME       one tracker BIG.20261201000000 of M jobs of every
                                           type, in sub-networks, with captured output

The content is fixed by the arguments, so two runs write the same bytes."""
import argparse
import os

MACHINE = "benchhost"
TYPES = "UUUUXBPVZZD"  # a mix of every job line type, unit jobs the most common
STATUSES = [("done", "-"), ("done", "s"), ("run", "-"), ("wait", "h"), ("estop", "-"),
            ("done", "r"), ("submit", "-"), ("wait", "-")]


def stamp(day, second):
    h, m, s = second // 3600 % 24, second // 60 % 60, second % 60
    return "202612%02d%02d%02d%02d" % (day, h, m, s)


def jline(user, path, status, start, end, flags="-"):
    return "J %s:%s:%s.kstrk %s 0 %s %s bench - 3600 0 %s\n" % (MACHINE, user, path, status,
                                                               start, end, flags)


def job_line(kind, i, day):
    status, flags = STATUSES[i % len(STATUSES)]
    start = stamp(day, i % 86400)
    end = stamp(day, (i + 30) % 86400) if status in ("done", "estop") else "-"
    name = "job%07d" % i
    code = i % 3 if status == "estop" else 0
    if kind == "V":
        return "V %s %s 1 %d %s %s - - - %s 60 - - %s\n" % (name, status, code, start, end,
                                                          start, flags)
    if kind == "Z":
        sub = "java" if i % 2 else "shell"
        return "Z %s %s %s 0 %d %s %s r%d node%d - %s 60 %s\n" % (sub, name, status, code, start,
                                                                end, i, i % 7, start, flags)
    return "%s %s %s 0 %d %s %s r%d node%d {default queue} %s 60 %s\n" % (
        kind, name, status, code, start, end, i, i % 7, start, flags)


def write_site_base(sitedb):
    os.makedirs(os.path.join(sitedb, "spool", "nmap"), exist_ok=True)
    os.makedirs(os.path.join(sitedb, "spool", "tmp"), exist_ok=True)
    with open(os.path.join(sitedb, "spool", "nmap", "localinfo"), "w") as f:
        f.write("hostname: %s\n" % MACHINE)


def user_dir(sitedb, user):
    d = os.path.join(sitedb, "spool", "users", user, "kstrk")
    os.makedirs(d, exist_ok=True)
    return d


def write_trackers(sitedb, trackers, users):
    dirs = [user_dir(sitedb, "user%02d" % u) for u in range(users)]
    for n in range(trackers):
        user = n % users
        jnw = "NET%05d" % (n // users // 10)  # ten runs of each JNW
        run = n // users % 10
        stamp_text = stamp(1 + run, n % 86400)
        status, flags = STATUSES[n % len(STATUSES)]
        end = stamp(1 + run, (n + 600) % 86400) if status == "done" else "-"
        path = "%s.%s" % (jnw, stamp_text)
        with open(os.path.join(dirs[user], path + ".kstrk"), "w") as f:
            f.write(jline("user%02d" % user, path, status, stamp_text, end, flags))
            f.write(job_line("U", n, 1 + run))


def write_big(sitedb, jobs, user):
    path = "BIG.20261201000000"
    per_net = 1000
    with open(os.path.join(user_dir(sitedb, user), path + ".kstrk"), "w") as f:
        f.write(jline(user, path, "run", "20261201000001", "-"))
        for i in range(jobs):
            if i % per_net == 0 and i > 0:
                net = i // per_net
                sub = "BIG:S%04d" % net if net % 4 else "BIG:S%04d:T" % (net - 1)
                f.write(jline(user, "%s.20261201000000" % sub, "run", stamp(1, net), "-"))
            kind = TYPES[i % len(TYPES)]
            f.write(job_line(kind, i, 1))
            if kind != "D" and i % 2 == 0:
                f.write("O\n\toutput of job%07d: %d rows\n\tdone\n" % (i, i * 7 % 1000))
            if kind != "D" and i % 5 == 0:
                f.write("E\n\twarning: job%07d slow\n" % i)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("sitedb")
    p.add_argument("--trackers", type=int, default=0)
    p.add_argument("--users", type=int, default=10)
    p.add_argument("--jobs", type=int, default=0)
    p.add_argument("--user", default=None)
    a = p.parse_args()
    write_site_base(a.sitedb)
    if a.trackers:
        write_trackers(a.sitedb, a.trackers, a.users)
    if a.jobs:
        write_big(a.sitedb, a.jobs, a.user)


if __name__ == "__main__":
    main()
