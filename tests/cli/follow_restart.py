#!/usr/bin/env python3
"""jobresults follow killed at random moments: writers append across
several files while the follower is killed with SIGKILL and restarted with
--state, over and over. The union of its output, repeats dropped by (file_id,
offset), must equal the records of every file as dump reads them, each key
must always name the same record, and each offset must be where the
record's start tag is. A last run ends with SIGTERM and exit code 0.
Then, without kills, beside a fast writer, four writers of many small files
and an archiver that moves saved files away once printed (so that names and inodes are
taken again): every record exactly once. A cut state and an unwritable one
fail before any line.

Usage: follow_restart.py TOOL WORKDIR"""
import json
import os
import random
import re
import shutil
import signal
import socket
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
            stamp = int(re.search(r"_(\d+)\.xml$", record["file"]).group(1))
            check((record.pop("host"), record.pop("time"), record.pop("time_seconds")) ==
                  (socket.gethostname(), time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(stamp)), stamp),
                  "a line names its host and its job's time")
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

# A state cut short is refused; so is a state path that cannot be written.
good = open("state", "rb").read()
open("state", "wb").write(good[:len(good) // 2])
for state in ("state", "no/such/dir/state"):
    refused = subprocess.run([tool, "follow", DIR, "--state", state], capture_output=True, timeout=10)
    check(refused.returncode == 1 and refused.stdout == b"" and refused.stderr, "%s refused" % state)

os.makedirs("kept")
keeper = subprocess.Popen([tool, "follow", DIR, "--state", "kept/state"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
for step in (shutil.rmtree, None, os.makedirs):  # two rounds without the state's directory
    time.sleep(0.3)
    step and step("kept")
    subprocess.run([tool, "write", DIR], input=b"k\t/u\t1\t\t1\n", check=True)
time.sleep(0.3)
keeper.send_signal(signal.SIGTERM)
out, err = keeper.communicate(timeout=10)
check(keeper.returncode == 0 and len(out.splitlines()) == 3 and err.endswith(b"kept/state is saved again\n")
      and err.count(b"cannot create a file beside kept/state") == 1, "follow goes on, said once: %r" % err)

# No kills: writers of many files, a fast one, and an archiver; exactly once.
BUSY, ARCHIVE = "busy", "archive"
os.makedirs(ARCHIVE)
done = threading.Event()
written = set()


def small_files(k):
    for f in range(25):
        ids = ["w%d-%d-%d" % (k, f, i) for i in range(3)]
        written.update(ids)
        subprocess.run([tool, "write", "--format", "tsv", BUSY, "-"], check=True, capture_output=True,
                       input="".join("c%d\t/u\t%s\t\t1\n" % (k, i) for i in ids).encode())
        time.sleep(0.04)


def fast_file():
    ids = ["fast-%d" % i for i in range(30000)]
    written.update(ids)
    subprocess.run([tool, "write", "--format", "tsv", BUSY, "-"], check=True, capture_output=True,
                   input="".join("fast\t/u\t%s\t\t1\n" % i for i in ids).encode())


def archiver():
    # Like any archiver beside a log shipper, it takes a saved file only once
    # the follower printed its records; then names and inodes are taken again.
    moved, seen, printed = 0, 0, set()
    while not done.is_set():
        with open("busy.out", "rb") as out:
            out.seek(seen)
            lines = out.read()
        lines = lines[:lines.rfind(b"\n") + 1]
        seen += len(lines)
        printed.update(json.loads(line)["job_id"] for line in lines.decode().split("\n")[:-1])
        for name in os.listdir("."):
            if name.startswith(BUSY + "\\") and time.time() - os.path.getmtime(name) > 0.1:
                data = open(name, "rb").read().decode()
                ids = set(re.findall(r"<BackupJobId>\n(.*?)\n</BackupJobId>", data))
                if data.endswith("\n\n</Root>") and ids <= printed:
                    os.rename(name, os.path.join(ARCHIVE, str(moved)))
                    moved += 1
        time.sleep(0.02)


follower = subprocess.Popen([tool, "follow", BUSY, "--state", "busy.state", "--from-start"],
                            stdout=open("busy.out", "wb"), stderr=open("busy.err", "wb"))
time.sleep(0.2)
workers = [threading.Thread(target=small_files, args=(k,)) for k in range(4)]
workers += [threading.Thread(target=fast_file), threading.Thread(target=archiver)]
for worker in workers:
    worker.start()
for worker in workers[:-1]:
    worker.join()
deadline = time.time() + 30
while time.time() < deadline:
    lines = open("busy.out", "rb").read().decode().split("\n")[:-1]
    if len(lines) >= len(written):
        break
    time.sleep(0.2)
done.set()
workers[-1].join()
follower.send_signal(signal.SIGTERM)
check(follower.wait() == 0, "the follower beside the writers ends with 0")
printed = [json.loads(line) for line in open("busy.out", "rb").read().decode().split("\n")[:-1]]
keys = {}
for record in printed:
    key = (record["file_id"], record["offset"])
    check(keys.setdefault(key, record["job_id"]) == record["job_id"], "key %s names two records" % (key,))
ids = [record["job_id"] for record in printed]
check(len(ids) == len(set(ids)), "no record printed twice: %d lines, %d records" % (len(ids), len(set(ids))))
check(set(ids) == written, "every record printed: %d of %d" % (len(set(ids) & written), len(written)))
check(len({r["file_id"] for r in printed}) == len({(r["file"], r["job_id"].rsplit("-", 1)[0]) for r in printed}),
      "one file_id for each file")
print("beside the writers: %d lines, %d files under %d names" %
      (len(ids), len({r["file_id"] for r in printed}), len({r["file"] for r in printed})))
sys.exit(1 if failures else 0)
