#!/usr/bin/env python3
"""jobresults follow beside busy writers, for the figures of BENCHMARKS.md:
repeats in a run without kills, keys that name two records, records
missing. Writers: one fast writer of one file, or four writers of many
small files with an archiver that moves saved files away and deletes them
(names and inodes are taken again). With KILLS > 0 the follower is killed
with SIGKILL that many times and restarted with --state.

Usage: follow_soundness.py TOOL WORKDIR fast|archive SECONDS [KILLS]"""
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import threading
import time

tool, work, mode, seconds = os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[3], float(sys.argv[4])
kills = int(sys.argv[5]) if len(sys.argv) > 5 else 0
shutil.rmtree(work, ignore_errors=True)
os.makedirs(os.path.join(work, "archive"))
os.chdir(work)
DIR = "r"
stop = threading.Event()
written = []


def write_file(tag, count):
    ids = ["%s-%d" % (tag, i) for i in range(count)]
    subprocess.run([tool, "write", "--format", "tsv", DIR, "-"], check=True, capture_output=True,
                   input="".join("c\t/u\t%s\t\t1\n" % i for i in ids).encode())
    written.extend(ids)


def fast():
    n = 0
    while not stop.is_set():
        write_file("fast%d" % n, 100000)
        n += 1


def small(k):
    n = 0
    while not stop.is_set():
        write_file("w%d-%d" % (k, n), 5)
        n += 1


def archiver():
    moved = 0
    while not stop.is_set() or any(n.startswith(DIR + "\\") for n in os.listdir(".")):
        for name in os.listdir("."):
            if name.startswith(DIR + "\\") and time.time() - os.path.getmtime(name) > 1:
                if open(name, "rb").read()[-9:] == b"\n\n</Root>":
                    os.rename(name, "archive/%d" % moved)
                    os.remove("archive/%d" % moved)
                    moved += 1
        time.sleep(0.02)
        if stop.is_set() and time.time() > stopped_at + 3:
            break


runs = []


def follow():
    name = "run%d.out" % len(runs)
    runs.append(name)
    return subprocess.Popen([tool, "follow", DIR, "--state", "state", "--from-start"],
                            stdout=open(name, "wb"))


stopped_at = 0
workers = [threading.Thread(target=fast)] if mode == "fast" else \
    [threading.Thread(target=small, args=(k,)) for k in range(4)]
follower = follow()
time.sleep(0.2)
for w in workers:
    w.start()
archive = threading.Thread(target=archiver) if mode == "archive" else None
if archive:
    archive.start()
start = time.time()
for k in range(kills):
    time.sleep(random.uniform(0, 2 * seconds / max(kills, 1)) if time.time() - start < seconds else 0)
    follower.send_signal(signal.SIGKILL)
    follower.wait()
    follower = follow()
time.sleep(max(0, seconds - (time.time() - start)))
stop.set()
stopped_at = time.time()
for w in workers:
    w.join()
if archive:
    archive.join()
time.sleep(2)
follower.send_signal(signal.SIGTERM)
follower.wait()
lines, keys, two, names = 0, {}, 0, set()
for name in runs:
    for line in open(name, "rb").read().decode().split("\n")[:-1]:
        r = json.loads(line)
        lines += 1
        names.add(r["file"])
        key = (r["file_id"], r["offset"])
        if keys.setdefault(key, r["job_id"]) != r["job_id"]:
            two += 1
printed = set(keys.values())
if os.environ.get("SHOW_MISSING"):
    print(sorted(set(written) - printed)[:40], file=sys.stderr)
print("%s, %.0f s, %d kills: %d records written, %d lines, %d repeats, %d keys naming two records, "
      "%d missing, %d files under %d names" % (
          mode, seconds, kills, len(written), lines, lines - len(keys), two,
          len(set(written) - printed), len({k[0] for k in keys}), len(names)))
