#!/usr/bin/env python3
"""follow --exec into a sink that fails by schedule while writers append and
follow is killed: every record is stored, batches stay bounded, pauses double,
and SIGTERM kills a hanging run. Usage: follow_exec.py TOOL WORKDIR"""
import json, os, random, shutil, signal, subprocess, sys, threading, time

tool, work = os.path.abspath(sys.argv[1]), sys.argv[2]
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
os.chdir(work)
seed = int(os.environ.get("CIJOBRESULTS_TEST_SEED") or random.randrange(1 << 30))
print("random seed %d; replay with CIJOBRESULTS_TEST_SEED=%d" % (seed, seed))
rng = random.Random(seed)
DIR, BATCH, failures = "results", 7, []
# Run n of the sink, counted across restarts, fails as $SCHEDULE says.
open("sink.sh", "w").write("""n=$(($(cat runs 2>/dev/null || echo 0) + 1)); echo $n >runs
case "$SCHEDULE" in *" $n:exit "*) cat >/dev/null; exit 3;; *" $n:kill "*) kill -9 $$;;
  *" $n:hang "*) echo $$ >hung; exec sleep 60;; esac
cat >batch.$n && cat batch.$n >>store.jsonl""")


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)

def follow(name, schedule):
    return subprocess.Popen([tool, "follow", DIR, "--state", "state", "--from-start", "--exec", "exec sh sink.sh",
                             "--exec-timeout", "1", "--batch-records", str(BATCH), "--batch-ms", "50"],
                            stderr=open(name + ".err", "wb"), env=dict(os.environ, SCHEDULE=" %s " % schedule))

def write(lines, pause=0):
    with subprocess.Popen([tool, "write", DIR, "-"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL) as proc:
        for line in lines:
            proc.stdin.write(line.encode())
            proc.stdin.flush()
            time.sleep(rng.uniform(0, pause))

def records(lines):
    return {(r["client"], r["job_id"]) for r in map(json.loads, lines)}


write(["early\t/u\t%d\t\t1\n" % i for i in range(10)])
first = follow("first", "1:exit 2:kill 3:exit 4:hang")
deadline = time.time() + 30
while "kept the batch" not in open("first.err").read() and time.time() < deadline:
    time.sleep(0.1)
check(first.poll() is None, "follow goes on through failing runs")
first.kill()
threads = [threading.Thread(target=write, args=(["c%d\t/u\t%d\t\t1\n" % (k, i) for i in range(60)], 0.15))
           for k in range(3)]
[thread.start() for thread in threads]
runs = 0
while any(t.is_alive() for t in threads) or runs < 4:
    runs += 1
    proc = follow("run%d" % runs, " ".join("%d:%s" % (n, rng.choice(["exit", "kill"]))
                                           for n in range(6, 400) if rng.random() < 0.2))
    time.sleep(rng.uniform(0.2, 0.8))
    proc.kill()
expected = set()
for name in (n for n in os.listdir(".") if n.startswith(DIR + "\\")):
    expected |= records(subprocess.run([tool, "dump", "--format", "jsonl", name], capture_output=True,
                                       text=True).stdout.splitlines())
check(len(expected) == 190, "the writers wrote 190 records: %d" % len(expected))

last = follow("last", "")
time.sleep(0.3)  # past its start, where a signal would still kill it
deadline = time.time() + 30
while time.time() < deadline and (not os.path.exists("store.jsonl") or records(open("store.jsonl")) != expected):
    time.sleep(0.1)
last.send_signal(signal.SIGTERM)
check(last.wait() == 0, "SIGTERM ends follow with 0")
check(os.path.exists("store.jsonl") and records(open("store.jsonl")) == expected, "every record reached the store")
check(all(len(open(n).readlines()) <= BATCH for n in os.listdir(".") if n.startswith("batch.")),
      "no batch holds more than --batch-records")
err = open("first.err").read()
pauses = [line.split(" in ")[-1] for line in err.splitlines() if "goes to it again" in line]
check(pauses[:4] == ["0.25 s", "0.5 s", "1 s", "2 s"], "the pauses double: %s" % pauses)
check(all(cause in err for cause in ("status 3", "signal 9", "--exec-timeout (1 s)", "kept the batch on try 5")),
      "each failure is said with its cause:\n" + err)

stopped = follow("stopped", "%d:hang" % (int(open("runs").read()) + 1))
write(["late\t/u\t1\t\t1\n"])
while not os.path.exists("hung") and stopped.poll() is None:
    time.sleep(0.05)
stopped.send_signal(signal.SIGTERM)
check(stopped.wait(timeout=5) == 0, "SIGTERM during a run ends follow with 0")
time.sleep(0.2)  # the group's kill and reaping
check(os.path.exists("hung") and not os.path.exists("/proc/" + open("hung").read().strip()),
      "the hanging run was started, and killed with its group")
print("%d records, %d runs of follow" % (len(expected), runs + 3))
sys.exit(1 if failures else 0)
