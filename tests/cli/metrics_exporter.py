#!/usr/bin/env python3
"""jobresults metrics through the real consumers: promtool checks the text,
node_exporter's textfile collector serves it, and the scraped values must
equal a model computed here from the records written. Then --state runs
must read only what changed and print what a run without state prints.

Usage: metrics_exporter.py TOOL WORKDIR"""
import codecs
import functools
import os
import re
import shutil
import socket
import subprocess
import sys
import time
import urllib.request

tool, work = os.path.abspath(sys.argv[1]), sys.argv[2]
shutil.rmtree(work, ignore_errors=True)
os.makedirs(os.path.join(work, "textfile"))
os.chdir(work)
DIR = "results"
PROM = "textfile/jobresults.prom"
CLIENTS = [b"plain", b'quo"te', b"back\\slash", b"new\nline", b"caf\xe9", b"caf\xea", b"tab\there"]


# The tool's text of raw bytes: each byte outside well-formed UTF-8 as
# \xHH; no client here holds a backslash that the tool doubles.
codecs.register_error("jobresults", lambda e: ("".join("\\x%02X" % b for b in e.object[e.start:e.end]), e.end))


def tsv(value):
    return value.replace(b"\\", b"\\\\").replace(b"\t", b"\\t").replace(b"\n", b"\\n")


def line(record):
    client, error, size = record
    return b"\t".join([tsv(client), b"/u", b"1", tsv(error), str(size).encode()]) + b"\n"


def write(records, directory=DIR):
    out = subprocess.run([tool, "write", "--format", "tsv", directory, "-"], input=b"".join(map(line, records)),
                         capture_output=True, check=True)
    return out.stdout.decode().strip()


def created(path):
    return int(re.search(r"ci_push_(-?\d+)\.xml$", path).group(1))


writer_gone = set()  # open files that no writer holds


def model(files):
    """files: {path: (state, [records counted])} -> {(name, labels): value}"""
    expected, newest = {}, {}
    for path in sorted(files, key=lambda p: (created(p), p)):
        for client, error, size in files[path][1]:
            label = client.decode("utf-8", "jobresults")
            outcome = "error" if error else "success"
            for o in ("success", "error"):
                expected.setdefault(("jobresults_records", (("client", label), ("outcome", o))), 0)
            expected[("jobresults_records", (("client", label), ("outcome", outcome)))] += 1
            newest[label] = (created(path), 0 if error else 1, size, int(os.stat(path).st_mtime))
    # Without removals, the counter holds the records present.
    expected.update({("jobresults_records_total", labels): count
                     for (name, labels), count in list(expected.items()) if name == "jobresults_records"})
    for label, (stamp, success, size, appended) in newest.items():
        expected[("jobresults_last_job_timestamp_seconds", (("client", label),))] = stamp
        expected[("jobresults_last_append_timestamp_seconds", (("client", label),))] = appended
        expected[("jobresults_last_job_success", (("client", label),))] = success
        expected[("jobresults_last_job_size", (("client", label),))] = size
    for state in ("saved", "open", "damaged"):
        expected[("jobresults_files", (("state", state),))] = sum(s == state for s, _ in files.values())
    expected[("jobresults_newest_file_timestamp_seconds", ())] = max(map(created, files))
    for path in files:
        if files[path][0] == "damaged":
            expected[("jobresults_file_damaged", (("file", path),))] = 1
    for path in writer_gone:
        expected[("jobresults_file_writer_gone", (("file", path),))] = 1
    expected[("jobresults_metrics_run_success", ())] = 1
    return expected


# Families whose values follow the clock: checked against it, apart from the model.
MOMENT = ("jobresults_metrics_run_timestamp_seconds", "jobresults_oldest_open_file_age_seconds")


def steady(text):
    return "\n".join(l for l in text.decode().splitlines() if not l.startswith(MOMENT))


def parse(text, prefix):
    samples = {}
    for raw in text.splitlines():
        if not raw.startswith(prefix):
            continue
        name, labels, value = re.fullmatch(r'(\w+)(?:\{(.*)\})? (\S+)', raw).groups()
        pairs = tuple((k, re.sub(r'\\(.)', lambda m: "\n" if m.group(1) == "n" else m.group(1), v))
                      for k, v in re.findall(r'(\w+)="((?:[^"\\]|\\.)*)"', labels or ""))
        if name not in MOMENT:
            samples[(name, pairs)] = float(value)
    return samples


def metrics(*extra):
    return subprocess.run([tool, "metrics", DIR, *extra], capture_output=True)


failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


# Saved files, one damaged copy, and one file kept open by its writer.
files = {}
for n in range(3):
    records = [(CLIENTS[(n + i) % len(CLIENTS)], b"" if (n * i) % 3 else b"disk \"full\"", 1000 * n + i)
               for i in range(7)]
    files[write(records)] = ("saved", records)
saved = next(iter(files))
data = open(saved, "rb").read()
damaged = "%s\\ci_push_%d.xml" % (DIR, created(saved) - 100)
with open(damaged, "wb") as out:
    out.write(data[:data.rfind(b"<JobResult>") + 30])
files[damaged] = ("damaged", files[saved][1][:-1])
before = set(os.listdir("."))
writer = subprocess.Popen([tool, "write", "--format", "tsv", DIR, "-"], stdin=subprocess.PIPE,
                          stdout=subprocess.PIPE)
writer.stdin.write(line((b"open client", b"", 5)))
writer.stdin.flush()
while not set(os.listdir(".")) - before:
    time.sleep(0.01)
opened = (set(os.listdir(".")) - before).pop()
files[opened] = ("open", [(b"open client", b"", 5)])

first = metrics("--output", PROM, "--state", "state")
check(first.returncode == 0, "metrics exit code: %s" % first.stderr)
check(b"damaged at byte" in first.stderr, "the damaged file is reported")
check(subprocess.run(["promtool", "check", "metrics"], stdin=open(PROM, "rb")).returncode == 0,
      "promtool accepts the output")
check(parse(open(PROM, encoding="utf-8").read(), "jobresults_") == model(files),
      "metrics equal the model")
clock = dict(re.findall(r"^(jobresults_metrics_run_timestamp_seconds|jobresults_oldest_open_file_age_seconds) (\d+)$",
                        open(PROM).read(), re.M))
check(abs(int(clock[MOMENT[0]]) - time.time()) < 60 and
      int(clock[MOMENT[1]]) == max(0, int(clock[MOMENT[0]]) - created(opened)),
      "run time and open file age follow the clock: %s" % clock)

# A second directory name of the host writes into the same textfile
# directory; its --label keeps each of its series apart from the first's.
second = {write([(b"plain", b"lost", 3)], "second"): ("saved", [(b"plain", b"lost", 3)])}
subprocess.run([tool, "metrics", "second", "--label", "dir=second", "--output", "textfile/second.prom"],
               check=True)
labelled = {(name, tuple(sorted(labels + (("dir", "second"),)))): value for (name, labels), value in model(second).items()}

# node_exporter serves the files as they are.
with socket.socket() as probe:
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
exporter = subprocess.Popen(["prometheus-node-exporter", "--web.listen-address=127.0.0.1:%d" % port,
                             "--collector.disable-defaults", "--collector.textfile",
                             "--collector.textfile.directory=textfile"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
try:
    for attempt in range(200):
        try:
            scraped = urllib.request.urlopen("http://127.0.0.1:%d/metrics" % port, timeout=5).read()
            break
        except OSError:
            time.sleep(0.05)
    else:
        raise SystemExit("node_exporter did not answer")
finally:
    exporter.terminate()
    exporter.wait()
text = scraped.decode("utf-8")
check(parse(text, "node_textfile_scrape_error") == {("node_textfile_scrape_error", ()): 0.0},
      "node_exporter read the file without error")
check(parse(text, "jobresults_") == {**model(files), **labelled},
      "scraped values of both directory names equal the model")

# A new file and a grown one: a run with --state reads those two alone and
# prints what a run without state prints.
writer.stdin.write(line((b"caf\xe9", b"late", 77)))
writer.stdin.close()
writer.wait()
files[opened] = ("saved", files[opened][1] + [(b"caf\xe9", b"late", 77)])
records = [(b"new\nline", b"", 9)]
files[write(records)] = ("saved", records)
later = metrics("--state", "state", "--verbose")
check(b"2 files read (2 records), 4 unchanged" in later.stderr, "only what changed is read: %s" % later.stderr)
check(steady(later.stdout) == steady(metrics().stdout), "a run with --state prints what a run without prints")
check(parse(later.stdout.decode(), "jobresults_") == model(files), "metrics after appends equal the model")
# A removed file takes its records with it.
# A removed file takes its records with it, but not from the counter.
totals = {key: value for key, value in model(files).items() if key[0] == "jobresults_records_total"}
os.remove(damaged)
del files[damaged]
after = metrics("--state", "state")
check(parse(after.stdout.decode(), "jobresults_") == {**model(files), **totals},
      "a removed file's records are gone, and stay in the counter")

# A file rewritten in place (same inode, longer) is counted anew. (The
# counter of records, which never drops, is left out.)
def counts(source):
    samples = parse(source.stdout.decode(), "jobresults_") if hasattr(source, "stdout") else source
    return {k: v for k, v in samples.items() if k[0] != "jobresults_records_total"}


other = subprocess.run([tool, "write", "--format", "tsv", "other", "-"], capture_output=True, check=True,
                       input=b"".join(line((b"rewritten", b"", i)) for i in range(9))).stdout.decode().strip()
with open(saved, "r+b") as out:
    out.write(open(other, "rb").read())
files[saved] = ("saved", [(b"rewritten", b"", i) for i in range(9)])
check(counts(metrics("--state", "state")) == counts(model(files)),
      "a file rewritten in place is counted anew")
# Each fault of the state file: a recount, said on stderr, never partial truth.
good = open("state", "rb").read()
digit = re.search(rb"\t[0-9]", good[good.index(b"\nclient"):]).start() + good.index(b"\nclient") + 1
for fault, broken in [("cut to its first line", good[:good.index(b"\n") + 1]),
                      ("cut in half", good[:len(good) // 2]),
                      ("a digit changed", good[:digit] + bytes([good[digit] ^ 1]) + good[digit + 1:])]:
    open("state", "wb").write(broken)
    run = metrics("--state", "state")
    check(run.returncode == 0 and b"counting anew" in run.stderr, "%s: said on stderr" % fault)
    check(counts(run) == counts(model(files)), "%s: counted anew" % fault)


# A power loss after a run: the file lost its last records and kept the
# size and time the run listed before a writer's appends that it read too.
# The state points behind the file's end: counted anew, and said.
lost = [path for path in files if files[path][0] == "saved" and len(files[path][1]) > 2][-1]
data = open(lost, "rb").read()
open(lost, "wb").write(data[:[m.end() for m in re.finditer(rb"</JobResult>", data)][1]] + b"\n</Root>")
os.utime(lost, ns=(10 ** 18, 10 ** 18))
files[lost] = ("open", files[lost][1][:2])
writer_gone.add(lost)
lines = [l.split(b"\t") for l in open("state", "rb").read().split(b"\n")[:-2]]
for fields in lines:
    if fields[:2] == [b"file", os.path.basename(lost).split("\\")[1].encode()]:
        check(int(fields[8]) > os.stat(lost).st_size, "the state read the file behind its new end")
        fields[6:8] = [b"%d" % os.stat(lost).st_size, b"%d" % 10 ** 18]
body = b"".join(b"\t".join(fields) + b"\n" for fields in lines)
digest = functools.reduce(lambda h, byte: ((h ^ byte) * 1099511628211) % 2 ** 64, body, 14695981039346656037)
open("state", "wb").write(body + b"end\t%d\t%d\n" % (len(lines), digest))
run = metrics("--state", "state")
check(run.stderr.decode().count(lost) == 1 and b"shorter than when it was read" in run.stderr,
      "a file shorter than the state read: one line names it: %s" % run.stderr)
check(counts(run) == counts(model(files)), "a file shorter than the state read is counted anew")
unwritable = metrics("--state", "no/such/dir/state")
check(unwritable.returncode == 1 and unwritable.stdout == b"", "an unwritable state fails before output")
sys.exit(1 if failures else 0)
