#!/usr/bin/env python3
"""jobresults follow --exec: a sink command that fails by schedule (exits 3,
is killed by a signal, hangs past --exec-timeout) while writers append and
follow itself is killed and restarted with --state. Every record must reach
the sink's store at least once, no batch may be larger than --batch-records,
the pauses between tries must double from 0.25 s, and SIGTERM during a
hanging run must end follow with 0 and kill the run's process group.

Usage: follow_exec.py TOOL WORKDIR"""
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
DIR, BATCH = "results", 7
failures = []

# Run n of the sink (counted across follow's restarts): fails as SCHEDULE
# says, else appends its batch to store.jsonl.
open("sink.sh", "w").write("""
n=$(($(cat runs 2>/dev/null || echo 0) + 1)); echo $n >runs
case "$SCHEDULE" in *" $n:exit "*) cat >/dev/null; exit 3;; *" $n:kill "*) kill -9 $$;;
  *" $n:hang "*) echo $$ >hung; exec sleep 60;; esac
cat >batch.$n && cat batch.$n >>store.jsonl
""")


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


def follow(name, schedule):
    err = open(name + ".err", "wb")
    return subprocess.Popen([tool, "follow", DIR, "--state", "state", "--from-start", "--exec", "exec sh sink.sh",
                             "--exec-timeout", "1", "--batch-records", str(BATCH), "--batch-ms", "50"],
                            stderr=err, env=dict(os.environ, SCHEDULE=" %s " % schedule))


def writer(name):
    proc = subprocess.Popen([tool, "write", "--format", "tsv", DIR, "-"], stdin=subprocess.PIPE,
                            stdout=subprocess.DEVNULL)
    for i in range(60):
        proc.stdin.write(("%s\t/jobs/%d\t%d\t\t%d\n" % (name, i, i, i)).encode())
        proc.stdin.flush()
        time.sleep(rng.uniform(0, 0.15))
    proc.stdin.close()
    proc.wait()


# Three tries of the first batch fail in a row, then one hangs; later,
# beside writers, runs fail at random while follow is killed now and then.
subprocess.run([tool, "write", DIR], input=b"".join(b"early\t/u\t%d\t\t1\n" % i for i in range(10)),
               check=True, capture_output=True)
first = follow("first", "1:exit 2:kill 3:exit 4:hang")
time.sleep(6)
check(first.poll() is None, "follow goes on through failing runs")
first.send_signal(signal.SIGKILL)
first.wait()
threads = [threading.Thread(target=writer, args=("client %d" % k,)) for k in range(3)]
for thread in threads:
    thread.start()
runs = []
while any(t.is_alive() for t in threads) or len(runs) < 4:
    schedule = " ".join("%d:%s" % (n, rng.choice(["exit", "kill"])) for n in range(6, 400) if rng.random() < 0.2)
    runs.append(follow("run%d" % len(runs), schedule))
    time.sleep(rng.uniform(0.2, 0.8))
    runs[-1].send_signal(signal.SIGKILL)
    runs[-1].wait()

expected = set()
for name in os.listdir("."):
    if name.startswith(DIR + "\\"):
        dump = subprocess.run([tool, "dump", "--format", "jsonl", name], capture_output=True)
        expected.update((r["client"], r["job_id"]) for r in map(json.loads, dump.stdout.decode().splitlines()))
check(len(expected) == 190, "the writers wrote 190 records: %d" % len(expected))



def stored():
    return [json.loads(line) for line in open("store.jsonl")] if os.path.exists("store.jsonl") else []


last = follow("last", "")
time.sleep(0.3)  # past its start, where a signal would still kill it
deadline = time.time() + 30
while time.time() < deadline and {(r["client"], r["job_id"]) for r in stored()} != expected:
    time.sleep(0.1)
last.send_signal(signal.SIGTERM)
check(last.wait() == 0, "SIGTERM ends follow with 0")
kept = [json.loads(line) for line in open("store.jsonl")]
check({(r["client"], r["job_id"]) for r in kept} == expected, "every record reached the store")
check(all(len(open(n).readlines()) <= BATCH for n in os.listdir(".") if n.startswith("batch.")),
      "no batch holds more than --batch-records")
err = open("first.err").read()
pauses = [line.split(" in ")[-1] for line in err.splitlines() if "goes to it again" in line]
check(pauses[:4] == ["0.25 s", "0.5 s", "1 s", "2 s"], "the pauses double: %s" % pauses)
check("exited with status 3" in err and "killed by signal 9" in err and "ran past --exec-timeout (1 s)" in err and "kept the batch on try" in err,
      "each failure is said with its cause:\n" + err)

# A run that hangs is killed with its group when follow is stopped.
stopped = follow("stopped", "%d:hang" % (int(open("runs").read()) + 1))
subprocess.run([tool, "write", DIR], input=b"late\t/u\t1\t\t1\n", check=True, capture_output=True)
deadline = time.time() + 10
while not os.path.exists("hung") and time.time() < deadline:
    time.sleep(0.05)
stopped.send_signal(signal.SIGTERM)
check(stopped.wait(timeout=5) == 0, "SIGTERM during a run ends follow with 0")
time.sleep(0.2)
try:
    os.kill(int(open("hung").read()), 0)
    check(False, "the hanging run was killed with its group")
except (ProcessLookupError, FileNotFoundError, ValueError) as gone:
    check(not isinstance(gone, FileNotFoundError), "the run that hangs was started")
print("%d records, %d lines kept, %d runs of follow" % (len(expected), len(kept), len(runs) + 2))
sys.exit(1 if failures else 0)
