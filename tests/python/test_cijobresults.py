"""The Python module against the files the library writes and the jobresults
tool lists: values of every byte, errors, files that grow or break while
they are read, and memory that does not grow with the file."""
import contextlib
import copy
import errno
import json
import os
import pickle
import shutil
import subprocess
import sys
import threading
import time

import pytest

import cijobresults

# Behind a record's end tag: a line end, then the trailer that closes the
# file after every append (and that the next append overwrites).
BEHIND_RECORD = b"\n</Root>"


def write(dir_name, records):
    """Writes records with the module; returns the path and the file's size
    after each append."""
    sizes = []
    with cijobresults.Writer(dir_name) as writer:
        for record in records:
            writer.add(*record)
            sizes.append(os.path.getsize(writer.path))
    return writer.path, sizes


def numbered(count, start=0):
    return [(f"client-{i}.example.com", f"https://store.example.com/{i}/x", str(i), "", i)
            for i in range(start, start + count)]


def test_round_trip_of_every_byte_but_nul(tmp_path):
    every = bytes(range(1, 256))
    with pytest.raises(ValueError, match="Url .*holds a NUL byte"):
        write(tmp_path / "nul", [("c", "a\0b", "1", "", 1)])
    assert not list(tmp_path.glob("nul*"))
    records = [(b"<" + every + b">", every[::-1] + b"!", b"\xff\xfe", b"", 2**64 - 1),
               ("\udcff" + every.decode("latin-1"), "ü", "1", "&amp;", 0)]
    path, _ = write(tmp_path / "r", records)
    as_bytes = list(cijobresults.read(path, bytes=True))
    as_text = list(cijobresults.read(str(path)))
    assert tuple(as_bytes[0]) == records[0] and tuple(as_text[1]) == records[1]
    # str and bytes are the same bytes: surrogateescape both ways
    assert [tuple(os.fsencode(v) if isinstance(v, str) else v for v in r) for r in as_text] == \
        [tuple(r) for r in as_bytes]


@pytest.mark.parametrize("name, expected, number", [
    ("missing\\ci_push_1.xml", FileNotFoundError, errno.ENOENT),
    ("directory\\ci_push_1.xml", IsADirectoryError, errno.EISDIR),
    ("fifo\\ci_push_1.xml", OSError, errno.EINVAL),
])
def test_unreadable_file_raises_oserror_with_errno_and_name(tmp_path, name, expected, number):
    (tmp_path / "directory\\ci_push_1.xml").mkdir()
    os.mkfifo(tmp_path / "fifo\\ci_push_1.xml")
    with pytest.raises(expected) as raised:
        list(cijobresults.read(tmp_path / name))
    assert (raised.value.errno, raised.value.filename) == (number, str(tmp_path / name))


def test_failed_append_raises_oserror_with_the_library_message(tmp_path):
    with pytest.raises(FileNotFoundError, match="Failed to create job results file"):
        cijobresults.Writer(tmp_path / "no" / "r").add("a", "b", "c")


@pytest.mark.parametrize("sync, environment, refused", [
    ("append", None, None), ("none", "fsync", None), (None, "none", None),
    ("Append", None, "sync must be None, 'none', 'name' or 'append'"), (b"name", None, "sync must"),
    (None, "fsync", "Invalid CIJOBRESULTS_SYNC = fsync in the environment")])
def test_sync_level_by_argument_or_environment(tmp_path, monkeypatch, sync, environment, refused):
    if environment is not None:
        monkeypatch.setenv("CIJOBRESULTS_SYNC", environment)
    with pytest.raises(ValueError, match=refused) if refused else contextlib.nullcontext():
        with cijobresults.Writer(tmp_path / "r", sync=sync) as writer:
            writer.add(*numbered(1)[0])
            writer.sync()
            writer.add(*numbered(2)[1])
        assert [tuple(r) for r in cijobresults.read(writer.path)] == numbered(2)
    assert os.listdir(tmp_path) == ([] if refused else [os.path.basename(writer.path)])


@pytest.mark.parametrize("intact, cut_before_end", [(0, 20), (1, 100), (6, 60), (9, 20)])
def test_damaged_file_delivers_sound_records_then_raises(tmp_path, intact, cut_before_end):
    """The file is cut inside the record after the intact ones: read() and
    check() both find the damage where that record begins."""
    records = numbered(10)
    path, sizes = write(tmp_path / "r", records)
    record_end = [size - len(BEHIND_RECORD) for size in sizes]
    assert cijobresults.check(path) == ("saved", 10, None, None, None)
    with open(path, "r+b") as file:
        file.truncate(record_end[intact] - cut_before_end)
    delivered = []
    with pytest.raises(cijobresults.DamagedFileError) as raised:
        for record in cijobresults.read(path):
            delivered.append(tuple(record))
    assert delivered == records[:intact]
    assert isinstance(raised.value, OSError) and raised.value.filename == path
    assert str(raised.value).endswith("(the damage begins at byte %d)" % raised.value.valid_bytes)
    if intact:
        assert raised.value.valid_bytes == record_end[intact - 1] + 1
    verdict = cijobresults.check(path)
    assert (verdict.sound, verdict.records, verdict.damage_offset) == \
        (False, intact, raised.value.valid_bytes)


def test_file_appended_to_while_read(tmp_path):
    records = numbered(3000)
    with cijobresults.Writer(tmp_path / "r") as writer:
        for record in records[:1000]:
            writer.add(*record)
        reader = cijobresults.read(writer.path)
        delivered = [tuple(next(reader))]
        for record in records[1000:]:
            writer.add(*record)
        delivered += [tuple(r) for r in reader]
    assert len(delivered) >= 1000 and delivered == records[:len(delivered)]
    assert [tuple(r) for r in cijobresults.read(writer.path)] == records


def test_reader_used_from_a_second_thread_is_refused(tmp_path):
    """While one thread reads a batch of large records inside the library,
    a second thread's call is refused; no record is lost or repeated."""
    records = [(f"c{i}", "u" * 2_000_000, str(i), "", i) for i in range(40)]
    path, _ = write(tmp_path / "r", records)
    reader = cijobresults.read(path)
    first, refusals, second = [], [], []
    thread = threading.Thread(target=lambda: first.extend(reader))
    thread.start()
    while thread.is_alive():
        try:
            second.extend([next(reader)])
        except RuntimeError as refused:
            refusals.append(str(refused))
        except StopIteration:
            break
    thread.join()
    assert refusals and all("in use by another thread" in r for r in refusals)
    assert sorted(tuple(r) for r in first + second) == sorted(records)


@pytest.mark.skipif("CIJOBRESULTS_TOOL" not in os.environ, reason="the tool is not built")
def test_files_and_writer_path_agree_with_the_tool(tmp_path):
    path, _ = write(tmp_path / "r", numbered(2))
    for name in ("r\\ci_push_100.xml", "r\\ci_push_5.xml", "r\\ci_push_-3.xml", "r\\ci_push_x.xml",
                 "r\\ci_push_7.xml.bak", "rr\\ci_push_8.xml", "r\\ci_pull_9.xml"):
        shutil.copy(path, tmp_path / name)
    (tmp_path / "r\\ci_push_6.xml").mkdir()
    listed = json.loads(subprocess.run(
        [os.environ["CIJOBRESULTS_TOOL"], "list", str(tmp_path / "r"), "--format", "json"],
        check=True, capture_output=True).stdout)
    files = cijobresults.files(tmp_path / "r")
    assert [(f.path, f.created.timestamp(), f.size) for f in files] == \
        [(f["path"], f["created_unix"], f["bytes"]) for f in listed]
    assert path in [f.path for f in files] and len(files) == 3  # 100, 5 and the written one
    first, created, size = files[0]  # three names, as before the extras came
    for twin in (files[0], pickle.loads(pickle.dumps(files[0])), copy.copy(files[0]),
                 files[0]._replace(size=size)):
        assert (*twin, twin.id.inode, twin.modified_ns, twin.ending) == \
            (first, created, size, os.stat(first).st_ino, os.stat(first).st_mtime_ns, "saved")


def test_any_path_reads_and_a_directory_gets_the_tools_hint(tmp_path):
    path, _ = write(tmp_path / "r", numbered(3))
    os.rename(path, tmp_path / "plain.xml")
    assert [tuple(r) for r in cijobresults.read(tmp_path / "plain.xml")] == numbered(3)
    for call in (cijobresults.Writer, cijobresults.files):
        with pytest.raises(ValueError, match="ends in '/'"):
            call(str(tmp_path) + "/")
        with pytest.warns(UserWarning, match="is a directory"):
            call(tmp_path)


@pytest.mark.parametrize("loop", ["record in cijobresults.read(sys.argv[1])",
                                  "pair in cijobresults.read_new(sys.argv[1])"])
def test_reader_memory_does_not_grow_with_the_file(tmp_path, loop):
    """Peak resident size of a whole process reading 2 000 and 200 000 records."""
    peaks = []
    for count in (2000, 200000):
        path, _ = write(tmp_path / f"r{count}", numbered(count))
        script = ("import cijobresults, sys\n"
                  f"for {loop}: pass\n"
                  "print(open('/proc/self/status').read().split('VmHWM:')[1].split()[0])")
        peaks.append(int(subprocess.run([sys.executable, "-c", script, path], check=True,
                                        capture_output=True, text=True).stdout))
    assert os.path.getsize(path) > 30 * 2**20
    assert peaks[1] - peaks[0] < 2 * 1024, peaks  # kB


# 256 records come in one batch: a point taken inside a batch, at its end,
# and before any record.
@pytest.mark.parametrize("taken", [0, 1, 256, 300])
def test_resume_gives_exactly_the_records_behind_the_point(tmp_path, taken):
    records = numbered(700)
    with cijobresults.Writer(tmp_path / "r") as writer:
        for record in records[:400]:
            writer.add(*record)
        reader = cijobresults.read(writer.path)
        for _ in range(taken):
            next(reader)
        point = reader.resume_point
        for record in records[400:]:
            writer.add(*record)
    resumed = cijobresults.read(writer.path, resume=tuple(point))
    assert [tuple(r) for r in resumed] == records[taken:]


def test_resume_in_a_rewritten_file_raises_estale(tmp_path):
    path, _ = write(tmp_path / "r", numbered(3))
    with open(path, "rb") as file:
        bytes_ = file.read()
    reader = cijobresults.read(path)
    list(reader)
    point = reader.resume_point
    with open(path, "r+b") as file:
        file.write(bytes_.replace(b"client-0", b"client-9"))
    with pytest.raises(OSError) as raised:
        cijobresults.read(path, resume=point)
    assert raised.value.errno == errno.ESTALE and raised.value.filename == path
def _damage(path, sizes, how):
    """Damages a written file: cut inside its fourth record, stray bytes
    over its second, nothing at all, or nothing but stray bytes."""
    with open(path, "r+b") as file:
        if how == "cut":
            file.truncate(sizes[3] - 30)
        elif how == "stray":
            file.seek(sizes[0] + 5)
            file.write(b"#" * 40)
        elif how == "garbage":
            file.truncate(0)
            file.write(b"#" * 200)


@pytest.mark.skipif("CIJOBRESULTS_TOOL" not in os.environ, reason="the tool is not built")
@pytest.mark.parametrize("how, leftover", [("cut", False), ("stray", True), ("none", True),
                                           ("garbage", False)])
def test_salvage_does_what_the_tool_does_to_a_copy(tmp_path, how, leftover):
    """One damaged file salvaged from Python, its twin by the tool: the same
    records kept, the same file set aside, the same stretches skipped, the
    same leftovers removed, and a failure where the tool fails."""
    (tmp_path / "py").mkdir()
    (tmp_path / "tool").mkdir()
    path, sizes = write(tmp_path / "py" / "r", numbered(6))
    _damage(path, sizes, how)
    twin = path.replace(str(tmp_path / "py"), str(tmp_path / "tool"))
    shutil.copy(path, twin)
    if leftover:
        for original in (path, twin):
            shutil.copy(original, original + ".rescue\\ci_push_1.xml")
        assert [left.original for left in cijobresults.rescue_leftovers(tmp_path / "py" / "r")] \
            == [path]
    tool = subprocess.run([os.environ["CIJOBRESULTS_TOOL"], "salvage", twin],
                          capture_output=True, text=True)
    try:
        result = cijobresults.salvage(path)
    except OSError as error:
        assert (tool.returncode, error.filename) == (1, path), tool.stderr
        assert error.errno == errno.ENODATA and "no intact record" in tool.stderr
        return
    assert tool.returncode == 0, tool.stderr
    said = tool.stdout.splitlines()
    assert [f"skipped: {length} byte{'s' * (length != 1)} at byte {offset}"
            for offset, length in result.damaged_stretches] == \
        [line for line in said if line.startswith("skipped:")]
    assert [os.path.basename(p) for p, error in result.leftovers if error == 0] == \
        [os.path.basename(line.split()[1]) for line in said if line.startswith("removed:")]
    assert result.sound == said[-1].startswith("sound:")
    assert (result.damaged_path is not None) == any(l.startswith("damaged file") for l in said)
    for name in sorted(os.listdir(tmp_path / "tool")):
        ours = tmp_path / "py" / name
        with open(tmp_path / "tool" / name, "rb") as theirs, open(ours, "rb") as mine:
            assert mine.read() == theirs.read(), name
    assert sorted(os.listdir(tmp_path / "py")) == sorted(os.listdir(tmp_path / "tool"))
    assert [tuple(r) for r in cijobresults.read(path)] == \
        [tuple(r) for r in cijobresults.read(twin)]
    assert len([tuple(r) for r in cijobresults.read(path)]) == result.records


# How a caller may keep a Progress between runs.
KEEPERS = {"as is": lambda p: p,
           "text": lambda p: cijobresults.Progress.from_text(p.to_text()),
           "pickle": lambda p: pickle.loads(pickle.dumps(p))}


def read_new_all(dir_name, store, keep=KEEPERS["as is"]):
    """One run over a directory name: the (record, offset) pairs and the
    readings of its files, the store updated."""
    got, readings = [], []
    for file in cijobresults.files(dir_name):
        reading = cijobresults.read_new(file, store.get(file.id))
        got += [(tuple(record), offset) for record, offset in reading]
        store[file.id] = keep(reading.progress)
        assert store[file.id] == reading.progress
        readings.append(reading)
    return got, readings


@pytest.mark.parametrize("keep", KEEPERS)
@pytest.mark.parametrize("first, then", [(1, 2), (3, 1), (300, 260)])
def test_read_new_yields_only_what_a_file_gained(tmp_path, keep, first, then):
    records, store = numbered(first + then), {}
    with cijobresults.Writer(tmp_path / "r") as writer:
        for part in (records[:first], records[first:]):
            for record in part:
                writer.add(*record)
            got, readings = read_new_all(tmp_path / "r", store, KEEPERS[keep])
            assert [record for record, _ in got] == part
            with open(writer.path, "rb") as file:
                content = file.read()
            assert all(content[offset:].startswith(b"<JobResult>") for _, offset in got)
            assert store[readings[0].progress.id].offset == len(content) - len(BEHIND_RECORD)
    for _ in range(2):  # the save, then nothing
        got, readings = read_new_all(tmp_path / "r", store, KEEPERS[keep])
        assert (got, readings[0].progress.state) == ([], "saved")
    assert readings[0].change == "unchanged"
    half_read = cijobresults.read_new(writer.path)
    next(half_read)
    half_read.close()
    with pytest.raises(RuntimeError, match="not finished"):
        half_read.progress


# Rewritten in place: the same size, or longer and ending as a writer
# leaves a file (read from its start).
@pytest.mark.parametrize("grows, yielded", [(False, 0), (True, 5)])
def test_read_new_in_a_rewritten_file_reports_it_replaced(tmp_path, grows, yielded):
    path, _ = write(tmp_path / "r", numbered(3))
    other, _ = write(tmp_path / "o", numbered(yielded or 3))
    store = {}
    read_new_all(tmp_path / "r", store)
    kept = dict(store)
    with open(other, "rb") as source, open(path, "r+b") as target:
        target.write(source.read().replace(b"client-1", b"client-9"))
    got, (reading,) = read_new_all(tmp_path / "r", store)
    assert reading.replaced and len(got) == yielded == reading.records
    assert (reading.progress == kept[reading.progress.id]) == (not grows)


@pytest.mark.parametrize("how, read_before", [("cut", 0), ("stray", 0), ("garbage", 0),
                                              ("cut", 3)])
def test_read_new_reports_damage_as_check_does(tmp_path, how, read_before):
    store = {}
    with cijobresults.Writer(tmp_path / "r") as writer:
        sizes = []
        for record in numbered(6):
            writer.add(*record)
            sizes.append(os.path.getsize(writer.path))
            if len(sizes) == read_before:
                read_new_all(tmp_path / "r", store)
    _damage(writer.path, sizes, how)
    got, (reading,) = read_new_all(tmp_path / "r", store)
    verdict = cijobresults.check(writer.path)
    assert (reading.problem, reading.check, reading.progress.state) == \
        ("damaged", verdict, "damaged")
    assert len(got) == verdict.records - read_before and not reading.replaced
    got, (reading,) = read_new_all(tmp_path / "r", store)
    assert (got, reading.change, reading.problem) == ([], "unchanged", None)


def test_read_new_of_a_file_gone_since_the_listing_fails(tmp_path):
    path, _ = write(tmp_path / "r", numbered(2))
    (listed,) = cijobresults.files(tmp_path / "r")
    os.remove(path)
    reading = cijobresults.read_new(listed)
    assert list(reading) == [] and reading.problem == "failed" and reading.check is None
    assert isinstance(reading.error, FileNotFoundError) and reading.error.filename == path
    assert reading.progress == cijobresults.Progress()
    with pytest.raises(FileNotFoundError):
        cijobresults.read_new(path)


def test_writer_alive_as_the_tool_lists_it(tmp_path):
    with cijobresults.Writer(tmp_path / "w") as writer:
        writer.add(*numbered(1)[0])
        left = str(tmp_path / "w\\ci_push_5.xml")
        shutil.copy(writer.path, left)  # open, but no writer holds the copy
        listed = json.loads(subprocess.run(
            [os.environ["CIJOBRESULTS_TOOL"], "list", str(tmp_path / "w"), "--format", "json"],
            check=True, capture_output=True).stdout)
        alive = {f.path: f.writer_alive for f in cijobresults.files(tmp_path / "w")}
        assert alive == {f["path"]: f["writer_alive"] for f in listed} == \
            {writer.path: True, left: False}
    assert not cijobresults.writer_alive(writer.path)
