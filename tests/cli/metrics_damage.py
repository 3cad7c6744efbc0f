#!/usr/bin/env python3
"""metrics --state sees damage that keeps a file's size or only adds to it:
in the first run when a time moved, within one verification cycle when
nothing visible changed, and then prints what a run without state prints.

Usage: metrics_damage.py TOOL WORKDIR"""
import functools
import os
import shutil
import subprocess
import sys

tool, work = os.path.abspath(sys.argv[1]), sys.argv[2]
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
os.chdir(work)
ROWS = b"".join(b"client%d\t/u\t%d\t\t%d\n" % (i % 5, i, i) for i in range(300))
CLOCK = ("jobresults_metrics_run_timestamp_seconds", "jobresults_oldest_open_file_age_seconds",
         "jobresults_records_total")  # the counter keeps records a recount drops


def metrics(name, *extra):
    out = subprocess.run([tool, "metrics", name, *extra], capture_output=True).stdout.decode()
    return "\n".join(l for l in out.splitlines() if not l.startswith(CLOCK))


def reseal(state, edit):
    """The state with its file lines edited, and a check line that fits them."""
    lines = [l.split(b"\t") for l in open(state, "rb").read().split(b"\n")[:-2]]
    body = b"".join(b"\t".join(edit(f) if f[0] == b"file" else f) + b"\n" for f in lines)
    digest = functools.reduce(lambda h, b: ((h ^ b) * 1099511628211) % 2 ** 64, body, 14695981039346656037)
    open(state, "wb").write(body + b"end\t%d\t%d\n" % (len(lines), digest))


def zero_page(path, state, before):
    with open(path, "r+b") as out:
        os.pwrite(out.fileno(), bytes(4096), 3 * 4096)


def put_back(path, state, before):
    zero_page(path, state, before)
    os.utime(path, ns=(before.st_atime_ns, before.st_mtime_ns))


# (case, what happens to the last file after a run read it, --verify-budget, files, runs)
CASES = [("zero page, touch", lambda *a: (zero_page(*a), os.utime(a[0])), "0", 1, 1),
         ("zero page, mtime put back (ctime moves)", put_back, "0", 1, 1),
         ("same, state without ctime", lambda p, s, b: (put_back(p, s, b), reseal(s, lambda f: f[:-2])), "0", 1, 1),
         ("grown by bytes the reader passes over", lambda p, s, b: open(p, "ab").write(b"#junk#"), "0", 1, 1),
         ("nothing visible but the bytes", lambda p, s, b: (put_back(p, s, b), reseal(
             s, lambda f: f[:-2] + [b"%d" % os.stat(p).st_ctime_ns, f[-1]])), "1K", 2, 2)]
failures = 0
for number, (case, spoil, budget, files, runs) in enumerate(CASES):
    name, state = "case%d" % number, "case%d.state" % number
    paths = sorted(subprocess.run([tool, "write", "--format", "tsv", name, "-"], input=ROWS, check=True,
                                  capture_output=True).stdout.decode().strip() for _ in range(files))
    metrics(name, "--state", state)
    spoil(paths[-1], state, os.stat(paths[-1]))
    # Without verification, damage that shows nothing stays unseen.
    unseen = budget == "0" or "jobresults_file_damaged{" not in metrics(name, "--state", state, "--verify-budget", "0")
    seen = [metrics(name, "--state", state, "--verify-budget", budget) for _ in range(runs)][-1]
    if not (unseen and "jobresults_file_damaged{" in seen and seen == metrics(name)):
        failures += 1
        print("FAIL: %s: unseen without verification %s, then:\n%s" % (case, unseen, seen), file=sys.stderr)
print("%d passed, %d failed" % (len(CASES) - failures, failures))
sys.exit(1 if failures else 0)
