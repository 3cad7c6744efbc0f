#!/usr/bin/env python3
"""jobresults follow killed at random moments: writers append across
several files while the follower is killed with SIGKILL and restarted with
--state, over and over. The union of its output, repeats dropped by (file,
offset), must equal the records of every file as dump reads them, each key
must always name the same record, and each offset must be where the
record's start tag is. A last run ends with SIGTERM and exit code 0.

Usage: follow_restart.py TOOL WORKDIR"""
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import threading
import time

tool, work = os.path.abspath(sys.argv[1]), sys.argv[2]
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
os.chdir(work)
seed = int(os.environ.get("CIJOBRESULTS_TEST_SEED") or random.randrange(1 << 30))
print("random seed %d; replay with CIJOBRESULTS_TEST_SEED=%d" % (seed, seed))
rng = random.Random(seed)
DIR = "results"


def writer(name, files, pause):
    proc = subprocess.Popen([tool, "write", "--format", "tsv", DIR, "-"], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE)
    for i in range(40):
        error = "failed \"%d\"\\n" % i if i % 4 == 0 else ""
        proc.stdin.write(("%s\t/jobs/%d\t%d\t%s\t%d\n" % (name, i, i, error, i * 7)).encode())
        proc.stdin.flush()
        time.sleep(pause[i])
    proc.stdin.close()
    files.append(proc.stdout.read().decode().strip())
    proc.wait()


# A damaged file is there from the start: its complete records count.
subprocess.run([tool, "write", DIR], input=b"early\t/u\t1\t\t1\nearly\t/u\t2\t\t2\n", check=True,
               capture_output=True)
early = [n for n in os.listdir(".") if n.startswith(DIR + "\\")][0]
data = open(early, "rb").read()
open(early, "wb").write(data[:data.rfind(b"<JobResult>") + 20])

files = [early]
pauses = [[rng.uniform(0, 0.04) for _ in range(40)] for _ in range(6)]
threads = [threading.Thread(target=lambda k=k: [writer("client %d.%d" % (k, j), files, pauses[2 * k + j])
                                                  for j in range(2)]) for k in range(3)]
for thread in threads:
    thread.start()
runs = []


def follow(name):
    out, err = open(name + ".out", "wb"), open(name + ".err", "wb")
    runs.append(name)
    return subprocess.Popen([tool, "follow", DIR, "--state", "state", "--from-start"], stdout=out, stderr=err)


while any(t.is_alive() for t in threads):
    proc = follow("run%d" % len(runs))
    time.sleep(rng.uniform(0.01, 0.15))
    proc.send_signal(signal.SIGKILL)
    proc.wait()
for thread in threads:
    thread.join()

expected = {}
for path in files:
    dump = subprocess.run([tool, "dump", "--format", "jsonl", path], capture_output=True)
    expected[path] = [json.loads(line) for line in dump.stdout.decode().splitlines()]
total = sum(map(len, expected.values()))

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


def union():
    seen = {}
    for name in runs:
        text = open(name + ".out", "rb").read().decode()
        for line in text.split("\n")[:-1]:  # a line cut by the kill has no newline
            record = json.loads(line)
            key = (record.pop("file_id"), record.pop("offset"))
            record = (record.pop("file"), record)
            check(seen.setdefault(key, record) == record, "key %s names two records" % (key,))
    return seen


last = follow("final")
time.sleep(0.3)  # past its start, where a signal would still kill it
deadline = time.time() + 30
while len(union()) < total and time.time() < deadline:
    time.sleep(0.1)
last.send_signal(signal.SIGTERM)
check(last.wait() == 0, "SIGTERM ends follow with 0")
seen = union()
for path, records in expected.items():
    mine = sorted((offset, record) for (_, offset), (file, record) in seen.items() if file == path)
    check([r for _, r in mine] == records, "%s: follow printed what dump reads" % path)
    body = open(path, "rb").read()
    check(all(body[o:o + 11] == b"<JobResult>" for o, _ in mine), "%s: offsets are record starts" % path)
check(len(seen) == total, "no record of another file: %d keys, %d records" % (len(seen), total))
errors = b"".join(open(name + ".err", "rb").read() for name in runs)
check(b"damaged at byte" in errors, "the damaged file is reported")
quiet = follow("quiet")
time.sleep(0.5)
quiet.send_signal(signal.SIGINT)
check(quiet.wait() == 0 and os.path.getsize("quiet.out") == 0 and os.path.getsize("quiet.err") == 0,
      "a run after a clean stop prints nothing again, the damage included")
print("%d runs, %d records" % (len(runs), total))
sys.exit(1 if failures else 0)
