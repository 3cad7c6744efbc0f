#!/usr/bin/env python3
"""Crash-state simulator: what a power loss can leave of the writer's files.

Records each scenario (a writer driven by crashsim_tool, or a run of the
jobresults tool) under the recorder shim, replays the log on an in-memory
file system (inodes with bytes and size, directory entries, 4096-byte
pages), enumerates the states a crash can leave under two models, writes
each state into a scratch directory and judges every job results file in it
with the classic reader, `jobresults check` and `jobresults salvage` (on a
copy).

Models (see bench/crashsim/README.md):
  ordered     what a file's sync covers is durable; of the page writes and
              sizes behind, any prefix in log order (a write crossing pages
              can persist a prefix of its pages); directory operations
              persist once any sync follows them (a journal commit), else
              any prefix of them.
  reordering  everything synced is durable (a file's sync: its data and
              size; a directory's fsync: its entries); of the page writes,
              size changes and directory operations since, any subset
              persists (all subsets when few, else a seeded sample).
"""
import argparse
import concurrent.futures
import hashlib
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

PAGE = 4096
DRIVER_SCENARIOS = ["create1", "create20", "pagecross", "save", "group"]
TOOL_SCENARIOS = ["write", "salvage", "metrics", "follow"]
# Tool runs that replace state files (their names under the root): each must
# hold its old or its new content whole, and the new once the run returned.
STATE_FILES = {"metrics": ["metrics.state", "metrics.prom"], "follow": ["follow.state"]}
LEVELS = ["none", "name", "append"]
MODELS = ["ordered", "reordering"]
EXHAUSTIVE_LIMIT = 4096  # subsets per crash point enumerated in full
JOB_FILE = re.compile(r"\\ci_push_\d+\.xml$")


# --- the log -----------------------------------------------------------------

def ParseLog(path):
    events = []
    with open(path, "r", encoding="latin-1") as log:
        for line in log:
            fields = line.rstrip("\n").split("\t")
            events.append(fields)
    return events


class Unit:
    """One thing that can persist: a page piece of a write ('W'), a size
    ('S'), a directory operation ('D'); or an order point: a sync ('Y') or
    an acknowledgement ('A')."""
    __slots__ = ("kind", "ino", "off", "data", "size", "op", "dirs", "text", "index")

    def __init__(self, kind, **fields):
        self.kind = kind
        self.ino = self.off = self.data = self.size = self.op = self.text = None
        self.dirs = ()
        for name, value in fields.items():
            setattr(self, name, value)


def Dir(path):
    return path.rsplit("/", 1)[0]


def Name(path):
    return path.rsplit("/", 1)[1]


class Replay:
    """The process's view while the log is replayed, and the units."""

    def __init__(self, initial):
        self.next_ino = 1
        self.inodes = {}  # ino -> bytearray (what the process sees)
        self.entries = {}  # path -> ino
        self.directories = set()
        self.fds = {}  # fd -> ('file', ino) | ('dir', path)
        self.units = []
        for path, content in initial.items():
            ino = self.NewInode(bytearray(content))
            self.entries[path] = ino

    def NewInode(self, content=None):
        ino = self.next_ino
        self.next_ino += 1
        self.inodes[ino] = content if content is not None else bytearray()
        return ino

    def Add(self, unit):
        unit.index = len(self.units)
        self.units.append(unit)

    def Event(self, fields):
        kind = fields[0]
        if kind == "open":
            fd, flags, path = int(fields[1]), int(fields[2], 16), fields[3]
            if path in self.entries:
                self.fds[fd] = ("file", self.entries[path])
            else:
                self.fds[fd] = ("dir", path)
                self.directories.add(path)
        elif kind == "create":
            fd, path = int(fields[1]), fields[2]
            ino = self.NewInode()
            self.fds[fd] = ("file", ino)
            self.Link(path, ino)
        elif kind == "tmpfile":
            self.fds[int(fields[1])] = ("file", self.NewInode())
        elif kind == "write":
            ino = self.fds[int(fields[1])][1]
            offset, data = int(fields[2]), bytes.fromhex(fields[3])
            content = self.inodes[ino]
            end = offset + len(data)
            old_length = len(content)
            if len(content) < end:
                content.extend(b"\0" * (end - len(content)))
            content[offset:end] = data
            position = offset
            while position < end:
                piece_end = min(end, (position // PAGE + 1) * PAGE)
                self.Add(Unit("W", ino=ino, off=position, data=data[position - offset:piece_end - offset]))
                if piece_end > old_length:  # the file grows: its size is a unit of its own
                    self.Add(Unit("S", ino=ino, size=len(content), off=piece_end))
                position = piece_end
        elif kind == "trunc":
            ino = self.fds[int(fields[1])][1]
            size = int(fields[2])
            content = self.inodes[ino]
            if size < len(content):
                del content[size:]
            else:
                content.extend(b"\0" * (size - len(content)))
            self.Add(Unit("S", ino=ino, size=size, off=None))
        elif kind in ("fsync", "fdatasync", "syncfs"):
            what, target = self.fds[int(fields[1])]
            self.Add(Unit("Y", op=(kind, what, target)))
        elif kind == "linkfd":
            self.Link(fields[2], self.fds[int(fields[1])][1])
        elif kind == "link":
            self.Link(fields[2], self.entries[fields[1]])
        elif kind == "rename":
            source, target = fields[1], fields[2]
            self.entries[target] = self.entries.pop(source)
            self.Add(Unit("D", op=("rename", source, target), dirs=(Dir(source), Dir(target))))
        elif kind == "unlink":
            self.entries.pop(fields[1], None)
            self.Add(Unit("D", op=("unlink", fields[1]), dirs=(Dir(fields[1]),)))
        elif kind == "close":
            self.fds.pop(int(fields[1]), None)
        elif kind == "dup":
            self.fds[int(fields[2])] = self.fds[int(fields[1])]
        elif kind == "ack":
            self.Add(Unit("A", text=fields[1]))
        else:  # "unsupported" too: the model would be wrong
            raise ValueError("cannot replay log event %r" % (fields,))

    def Link(self, path, ino):
        self.entries[path] = ino
        self.Add(Unit("D", op=("link", path, ino), dirs=(Dir(path),)))


# --- persisted states ----------------------------------------------------------

class Disk:
    """A persisted state: inode bytes and sizes, directory entries."""

    def __init__(self, initial_entries, initial_inodes):
        self.data = {ino: bytearray(content) for ino, content in initial_inodes.items()}
        self.size = {ino: len(content) for ino, content in initial_inodes.items()}
        self.entries = dict(initial_entries)

    def Apply(self, unit):
        if unit.kind == "W":
            data = self.data.setdefault(unit.ino, bytearray())
            self.size.setdefault(unit.ino, 0)
            end = unit.off + len(unit.data)
            if len(data) < end:
                data.extend(b"\0" * (end - len(data)))
            data[unit.off:end] = unit.data
        elif unit.kind == "S":
            data = self.data.setdefault(unit.ino, bytearray())
            size = unit.size if unit.off is None else max(self.size.get(unit.ino, 0), min(unit.size, unit.off))
            if size < len(data):
                del data[size:]
            self.size[unit.ino] = size
        elif unit.kind == "D":
            op = unit.op
            if op[0] == "link":
                self.entries[op[1]] = op[2]
            elif op[0] == "rename":
                if op[1] in self.entries:
                    self.entries[op[2]] = self.entries.pop(op[1])
            elif op[0] == "unlink":
                self.entries.pop(op[1], None)

    def Files(self, root):
        files = {}
        for path, ino in self.entries.items():
            data = bytes(self.data.get(ino, b""))[: self.size.get(ino, 0)]
            data += b"\0" * (self.size.get(ino, 0) - len(data))
            files[os.path.relpath(path, root)] = data
        return files


def Covers(sync, unit):
    """Whether sync unit `sync` makes `unit` durable (reordering model)."""
    kind, what, target = sync.op
    if kind == "syncfs":
        return unit.kind in "WSD"
    if unit.kind in "WS":
        return what == "file" and target == unit.ino
    if unit.kind == "D":
        return what == "dir" and target in unit.dirs
    return False


def Acked(units, crash):
    """Records acknowledged and whether a save was, before the crash point."""
    records, saved = 0, False
    for unit in units[:crash]:
        if unit.kind == "A":
            if unit.text == "saved":
                saved = True
            elif unit.text.isdigit():
                records = max(records, int(unit.text))
            elif unit.text == "exit 0":
                saved = True
    return records, saved


def OrderedStates(units, base, sample, rng):
    """(crash point, persisted unit indexes) for the ordered model: what a
    sync covers is durable; of the page writes and sizes behind, any prefix
    in log order; of the directory operations behind the last sync, any
    prefix."""
    for crash in range(len(units) + 1):
        durable, data, pending = [], [], []
        for unit in units[:crash]:
            if unit.kind in "WS":
                data.append(unit)
            elif unit.kind == "D":
                pending.append(unit.index)
            elif unit.kind == "Y":
                durable.extend(pending)  # a journal commit
                pending = []
                durable.extend(w.index for w in data if Covers(unit, w))
                data = [w for w in data if not Covers(unit, w)]
        choices = [(k, j) for k in range(len(data) + 1) for j in range(len(pending) + 1)]
        if sample and len(choices) > sample:
            everything = (len(data), len(pending))
            choices = rng.sample(choices, sample - 1)
            if everything not in choices:
                choices.append(everything)
        for k, j in choices:
            yield crash, sorted(durable + [w.index for w in data[:k]] + pending[:j])


def ReorderingStates(units, base, sample, rng):
    for crash in range(len(units) + 1):
        durable, pending = set(), []
        for unit in units[:crash]:
            if unit.kind in "WSD":
                pending.append(unit)
            elif unit.kind == "Y":
                still = []
                for waiting in pending:
                    (durable.add(waiting.index) if Covers(unit, waiting) else still.append(waiting))
                pending = still
        count = len(pending)
        limit = sample if sample else EXHAUSTIVE_LIMIT
        if count < 63 and 2 ** count <= limit:
            masks = range(2 ** count)
        else:
            masks = {0, 2 ** count - 1}
            while len(masks) < limit:
                masks.add(rng.getrandbits(count))
            masks = sorted(masks)
        for mask in masks:
            chosen = [p.index for bit, p in enumerate(pending) if mask >> bit & 1]
            yield crash, sorted(durable | set(chosen))


# --- judging -----------------------------------------------------------------

def ParseRecords(lines):
    records = []
    for line in lines:
        if line.startswith("REC "):
            fields = line.split(" ")
            records.append(tuple(bytes.fromhex(f) if f != "-" else b"" for f in fields[1:5]) + (int(fields[5]),))
    return records


class Judge:
    def __init__(self, args, scratch):
        self.args = args
        self.scratch = scratch
        self.cache = {}
        self.counter = 0

    def Place(self, name, data):
        directory = tempfile.mkdtemp(dir=self.scratch)
        path = os.path.join(directory, name)
        with open(path, "wb") as out:
            out.write(data)
        return directory, path

    def Read(self, path):
        out = subprocess.run([self.args.tool, "judge", path], capture_output=True, text=True, check=True).stdout
        lines = out.splitlines()
        opened = "OPEN 1" in lines
        end = int(lines[-1].split()[1])
        return opened and end == 0, ParseRecords(lines)

    def Prepare(self, files):
        """Judges many files at once, in parallel; Verdict then finds them."""
        todo = {}
        for name, data in files:
            key = (name, hashlib.sha256(data).hexdigest())
            if key not in self.cache:
                todo[key] = (name, data)
        with concurrent.futures.ThreadPoolExecutor(max_workers=self.args.jobs) as pool:
            list(pool.map(lambda item: self.Verdict(*item), todo.values()))

    def Verdict(self, name, data):
        """(reads, records read, check passes, records salvage gives)"""
        key = (name, hashlib.sha256(data).hexdigest())
        if key in self.cache:
            return self.cache[key]
        directory, path = self.Place(name, data)
        reads, records = self.Read(path)
        check = subprocess.run([self.args.jobresults, "check", path], capture_output=True).returncode == 0
        salvage = subprocess.run([self.args.jobresults, "salvage", path], capture_output=True)
        salvaged = self.Read(path)[1] if salvage.returncode == 0 else []
        shutil.rmtree(directory)
        self.cache[key] = (reads, records, check, salvaged)
        return self.cache[key]


def Subsequence(records, written):
    """Whether every record equals a written one, in written order."""
    position = 0
    for record in records:
        while position < len(written) and written[position] != record:
            position += 1
        if position == len(written):
            return False
        position += 1
    return True


def CorrectPrefix(records, written):
    count = 0
    while count < min(len(records), len(written)) and records[count] == written[count]:
        count += 1
    return count


def RecordEnds(final):
    """Offsets just behind each record's end tag in the writer's own view."""
    return [m.end() for m in re.finditer(rb"</JobResult>", final)]


def IntactPrefix(data, final, ends):
    count = 0
    for end in ends:
        if len(data) < end or data[:end] != final[:end]:
            break
        count += 1
    return count


# --- a scenario --------------------------------------------------------------

COLUMNS = ["states", "acknowledged records lost", "file vanished", "left empty", "unreadable",
           "unreadable, check passes", "success short of acknowledged (passing check)",
           "changed/invented", "salvage short of intact prefix", "original lost", "rescue left"]


class Tally:
    def __init__(self):
        self.counts = {c: 0 for c in COLUMNS}
        self.lost_records = 0
        self.short_passing = 0
        self.examples = {}

    def Hit(self, column, example):
        self.counts[column] += 1
        self.examples.setdefault(column, example)


def Record(args, scenario, level, work):
    """Runs the scenario under the recorder; returns (root, log, initial files, written records)."""
    root = os.path.join(work, "%s-%s" % (scenario, level), "root")
    shutil.rmtree(os.path.dirname(root), ignore_errors=True)
    os.makedirs(root)
    log = os.path.join(os.path.dirname(root), "ops.log")
    env = dict(os.environ, CIJOBRESULTS_SYNC=level)
    env.pop("LD_PRELOAD", None)
    initial = {}
    if scenario == "salvage":
        # A file whose fifth record is damaged (zeroed), written unrecorded.
        subprocess.run([args.tool, "drive", "create20", os.path.join(root, "jr")], env=env, check=True)
        (name,) = os.listdir(root)
        path = os.path.join(root, name)
        with open(path, "r+b") as damaged:
            content = bytearray(damaged.read())
            at = [m.start() for m in re.finditer(rb"<JobResult>", content)][4] + 20
            content[at:at + 8] = b"\0" * 8
            damaged.seek(0)
            damaged.write(content)
        initial[path] = bytes(content)
        written = ParseRecords(subprocess.run([args.tool, "records", "create20"], capture_output=True,
                                              text=True, check=True).stdout.splitlines())
        command = [args.jobresults, "salvage", path]
    elif scenario == "write":
        # jobresults write --sync=LEVEL, its 20 lines in 4 pauses apart (a
        # pause ends a batch); acknowledged when it exits 0.
        written = ParseRecords(subprocess.run([args.tool, "records", "create20"], capture_output=True,
                                              text=True, check=True).stdout.splitlines())
        command = [args.jobresults, "write", os.path.join(root, "jr"), "--format", "tsv",
                   "--sync=" + level]
    elif scenario in STATE_FILES:
        # A first run leaves the state; a file more makes the recorded run change it.
        subprocess.run([args.tool, "drive", "create20", os.path.join(root, "jr")], env=env, check=True)
        command = [args.jobresults, scenario, os.path.join(root, "jr"),
                   "--state", os.path.join(root, scenario + ".state")]
        if scenario == "metrics":
            command += ["--output", os.path.join(root, "metrics.prom")]
        else:
            command += ["--from-start"]
        RunTool(command, env)
        subprocess.run([args.tool, "drive", "create1", os.path.join(root, "jr")], env=env, check=True)
        for name in os.listdir(root):
            with open(os.path.join(root, name), "rb") as existing:
                initial[os.path.join(root, name)] = existing.read()
        written = []
    else:
        written = ParseRecords(subprocess.run([args.tool, "records", scenario], capture_output=True,
                                              text=True, check=True).stdout.splitlines())
        command = [args.tool, "drive", scenario, os.path.join(root, "jr")]
    ack = os.open(os.devnull, os.O_WRONLY)
    env.update(LD_PRELOAD=os.path.abspath(args.recorder), CRASHSIM_ROOT=root, CRASHSIM_LOG=log,
               CRASHSIM_ACK_FD=str(ack))
    if os.path.exists(log):
        os.unlink(log)
    if scenario in STATE_FILES:
        run = RunTool(command, env, pass_fds=(ack,))
    elif scenario == "write":
        run = WriteInBatches(command, env, written)
    else:
        run = subprocess.run(command, env=env, pass_fds=(ack,), capture_output=True)
    os.close(ack)
    if run.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (command, run.returncode, run.stderr.decode()))
    if scenario == "write":
        with open(log, "a") as out:
            out.write("ack\t%d\n" % len(written))
    elif scenario in TOOL_SCENARIOS:
        with open(log, "a") as out:
            out.write("ack\texit 0\n")
    return root, log, initial, written


def WriteInBatches(command, env, records, batch=5, pause=0.2):
    process = subprocess.Popen(command, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    for start in range(0, len(records), batch):
        for client, url, job, error, size in records[start:start + batch]:
            line = b"\t".join([client, url, job, error, str(size).encode()]) + b"\n"
            process.stdin.write(line)
        process.stdin.flush()
        time.sleep(pause)
    stdout, stderr = process.communicate()
    return subprocess.CompletedProcess(command, process.returncode, stdout, stderr)


def RunTool(command, env, pass_fds=()):
    """Runs metrics, or follow until it has printed what there is (then SIGTERM)."""
    if command[1] != "follow":
        return subprocess.run(command, env=env, pass_fds=pass_fds, capture_output=True)
    process = subprocess.Popen(command, env=env, pass_fds=pass_fds, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    time.sleep(1.0)
    process.terminate()
    stdout, stderr = process.communicate()
    return subprocess.CompletedProcess(command, process.returncode, stdout, stderr)


def JudgeStateFiles(scenario, files, initial, finals_by_name, saved, tally, where):
    """A state of a tool run that replaces state files."""
    names = STATE_FILES[scenario]
    if any(n not in names and n not in initial for n in files):
        tally.Hit("rescue left", where)
    for name in names:
        old, new = initial.get(name), finals_by_name.get(name)
        data = files.get(name)
        if data is None:
            if old is not None or saved:
                tally.Hit("file vanished", where + " file " + name)
        elif data != old and data != new:
            tally.Hit("changed/invented", where + " file " + name)
        if saved and data != new:
            tally.Hit("acknowledged records lost", where + " file " + name)


def Simulate(args, scenario, level, model, recorded, judge, seed):
    root, log, initial, written = recorded
    replay = Replay(initial)
    initial_entries = dict(replay.entries)
    initial_inodes = {ino: bytes(replay.inodes[ino]) for ino in replay.entries.values()}
    for fields in ParseLog(log):
        replay.Event(fields)
    units = replay.units
    finals = {ino: bytes(content) for ino, content in replay.inodes.items()}
    original = next(iter(initial.values()), None)
    rng = random.Random("%d-%s-%s-%s" % (seed, scenario, level, model))
    states = (OrderedStates if model == "ordered" else ReorderingStates)(units, None, args.sample, rng)
    tally = Tally()
    seen = set()
    if scenario == "salvage":
        expected = judge.Verdict(Name(next(iter(initial))), original)[3]
    enumerated, contents = [], {}
    for crash, indexes in states:
        disk = Disk(initial_entries, initial_inodes)
        for index in indexes:
            disk.Apply(units[index])
        files = {}
        for name, data in disk.Files(root).items():
            digest = hashlib.sha1(data).digest()
            contents.setdefault(digest, data)
            files[name] = digest
        acked, saved = Acked(units, crash)
        key = (tuple(sorted(files.items())), acked, saved)
        if key in seen:
            continue
        seen.add(key)
        ino_of = {os.path.relpath(p, root): i for p, i in disk.entries.items()}
        enumerated.append((crash, indexes, files, acked, saved, ino_of))
    if scenario not in STATE_FILES:
        judge.Prepare({(n, contents[d]) for state in enumerated for n, d in state[2].items()
                       if JOB_FILE.search(n) and ".rescue\\" not in n})
    initial_by_name = {os.path.relpath(p, root): d for p, d in initial.items()}
    finals_by_name = {os.path.relpath(p, root): finals[i] for p, i in replay.entries.items()}
    for crash, indexes, digests, acked, saved, ino_of in enumerated:
        files = {name: contents[digest] for name, digest in digests.items()}
        tally.counts["states"] += 1
        where = "crash after unit %d of %d, persisted units %s" % (crash, len(units), Abbreviate(indexes))
        if scenario in STATE_FILES:
            JudgeStateFiles(scenario, files, initial_by_name, finals_by_name, saved, tally, where)
            continue
        jobfiles = {n: d for n, d in files.items() if JOB_FILE.search(n) and ".rescue\\" not in n}
        if any(".rescue\\" in n for n in files):
            tally.Hit("rescue left", where)
        if scenario == "salvage":
            if original not in files.values() and not (saved and jobfiles):
                tally.Hit("original lost", where)
        if not jobfiles:
            if acked > 0 or (scenario == "salvage"):
                tally.Hit("file vanished", where)
                tally.lost_records += acked
                tally.Hit("acknowledged records lost", where)
            continue
        for name, data in sorted(jobfiles.items()):
            if len(data) == 0:
                tally.Hit("left empty", where)
            reads, records, check, salvaged = judge.Verdict(name, data)
            if not (Subsequence(records, written) and Subsequence(salvaged, written)):
                tally.Hit("changed/invented", where + " file " + name)
            if not reads:
                tally.Hit("unreadable", where + " file " + name)
                if check:
                    tally.Hit("unreadable, check passes", where + " file " + name)
            if scenario == "salvage":
                got = salvaged if not reads else records
                if CorrectPrefix(got, expected) < len(expected):
                    tally.Hit("salvage short of intact prefix", where + " file " + name)
                if saved and not (reads and records == expected):
                    tally.Hit("acknowledged records lost", where + " file " + name)
                continue
            final = finals[ino_of[name]]
            intact = IntactPrefix(data, final, RecordEnds(final))
            if CorrectPrefix(salvaged if salvaged else (records if reads else []), written) < intact:
                tally.Hit("salvage short of intact prefix", where + " file " + name)
            kept = max(CorrectPrefix(records, written), CorrectPrefix(salvaged, written))
            if kept < acked:
                tally.lost_records += acked - kept
                tally.Hit("acknowledged records lost", where + " file " + name)
            if reads and len(records) < acked:
                tally.Hit("success short of acknowledged (passing check)", where + " file " + name)
                tally.short_passing += 1 if check else 0
    return tally


def Abbreviate(indexes):
    text = ",".join(map(str, indexes))
    return text if len(text) < 200 else text[:200] + "..."


# --- the figures ---------------------------------------------------------------

def Violations(scenario, level, model, tally):
    """The figures this level must show; [] when it does."""
    must = ["changed/invented", "salvage short of intact prefix"]
    if scenario == "salvage":
        must.append("original lost")
    if scenario in STATE_FILES:  # replaced through a synced temporary and rename, at every level
        return [(column, tally.counts[column], tally.examples.get(column)) for column in
                ["changed/invented", "file vanished", "acknowledged records lost"] if tally.counts[column]]
    if level in ("name", "append"):
        must += ["file vanished", "left empty", "unreadable, check passes"]
    if scenario == "group":  # acknowledged at syncJobResults, at every level
        must += ["acknowledged records lost", "success short of acknowledged (passing check)"]
    if level == "append":
        must += ["acknowledged records lost", "success short of acknowledged (passing check)"]
    return [(column, tally.counts[column], tally.examples.get(column)) for column in must
            if tally.counts[column]]


def SelfTest(args, judge, seed):
    """The judge is not blind: a writer that changes a record in place must
    show changed records, and today's unsynced writer must fail the figures
    of level append. Returns the problems."""
    problems = []
    recorded = Record(args, "rewrite", "none", args.work)
    for model in MODELS:
        tally = Simulate(args, "rewrite", "none", model, recorded, judge, seed)
        print("selftest: rewrite, %s: %d states, %d with changed records" % (
            model, tally.counts["states"], tally.counts["changed/invented"]))
        if tally.counts["changed/invented"] == 0:
            problems.append("a record changed in place went unseen (%s)" % model)
    recorded = Record(args, "create20", "none", args.work)
    for model in MODELS:
        tally = Simulate(args, "create20", "none", model, recorded, judge, seed)
        failed = [column for column, _, _ in Violations("create20", "append", model, tally)]
        print("selftest: create20 unsynced under the figures of level append, %s: fails %s" % (
            model, failed))
        if "acknowledged records lost" not in failed or "file vanished" not in failed:
            problems.append("unsynced appends passed the figures of level append (%s)" % model)
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--recorder", required=True, help="the recorder shim (libcrashsim_recorder.so)")
    parser.add_argument("--tool", required=True, help="crashsim_tool")
    parser.add_argument("--jobresults", required=True, help="the jobresults tool")
    parser.add_argument("--work", required=True, help="scratch directory")
    parser.add_argument("--scenarios", default=",".join(DRIVER_SCENARIOS + TOOL_SCENARIOS))
    parser.add_argument("--levels", default=",".join(LEVELS))
    parser.add_argument("--models", default=",".join(MODELS))
    parser.add_argument("--sample", type=int, default=0,
                        help="states per crash point at most (0: all up to %d subsets)" % EXHAUSTIVE_LIMIT)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--jobs", type=int, default=max(2, os.cpu_count() or 2), help="judges at once")
    parser.add_argument("--verbose", action="store_true", help="name the first state of every column")
    parser.add_argument("--selftest", action="store_true",
                        help="check that the judge catches a changed record and unsynced appends")
    parser.add_argument("--assert", dest="check", action="store_true", help="exit 1 when a figure fails")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    args.work = os.path.realpath(args.work)  # the recorder logs real paths
    seed = args.seed if args.seed is not None else random.SystemRandom().randrange(1 << 31)
    print("crashsim: seed %d (replay with --seed %d)" % (seed, seed))
    started = time.time()
    os.makedirs(args.work, exist_ok=True)
    # Salvage syncs what it writes: the judge's copies go to memory when it can.
    scratch = tempfile.mkdtemp(prefix="crashsim-judge-", dir="/dev/shm" if os.path.isdir("/dev/shm") else args.work)
    judge = Judge(args, scratch)
    if args.selftest:
        problems = SelfTest(args, judge, seed)
        shutil.rmtree(scratch, ignore_errors=True)
        for problem in problems:
            print("FAIL: " + problem)
        return 1 if problems else 0
    failures = []
    header = "| scenario | level | model | states | acknowledged records lost (states) | file vanished | " \
             "left empty | unreadable (check passes) | success short of acknowledged (passing check) | " \
             "changed/invented | salvage short of intact prefix | original lost | temporaries left |"
    print(header)
    print("|" + "---|" * 13)
    for scenario in args.scenarios.split(","):
        for level in args.levels.split(","):
            recorded = Record(args, scenario, level, args.work)
            for model in args.models.split(","):
                tally = Simulate(args, scenario, level, model, recorded, judge, seed)
                c = tally.counts
                print("| %s | %s | %s | %d | %d (%d) | %d | %d | %d (%d) | %d (%d) | %d | %d | %s | %s |" % (
                    scenario, level, model, c["states"], tally.lost_records, c["acknowledged records lost"],
                    c["file vanished"], c["left empty"], c["unreadable"], c["unreadable, check passes"],
                    c["success short of acknowledged (passing check)"], tally.short_passing,
                    c["changed/invented"], c["salvage short of intact prefix"],
                    c["original lost"] if scenario == "salvage" else "-",
                    c["rescue left"] if scenario in TOOL_SCENARIOS else "-"), flush=True)
                if args.verbose:
                    for column, example in sorted(tally.examples.items()):
                        print("  %s, first: %s" % (column, example))
                for column, count, example in Violations(scenario, level, model, tally):
                    failures.append("%s, level %s, model %s: %s in %d states; first: %s; log %s" % (
                        scenario, level, model, column, count, example, recorded[1]))
    shutil.rmtree(scratch, ignore_errors=True)
    print("crashsim: %.1f s, seed %d" % (time.time() - started, seed))
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures and args.check else 0


if __name__ == "__main__":
    sys.exit(main())
