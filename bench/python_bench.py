#!/usr/bin/env python3
"""Reading and writing job results files from Python, in one run: the module
cijobresults against lxml's and ElementTree's iterparse (each with clear(),
as a streaming parse is written), and against the C++ loops it wraps.

Every measurement runs in a process of its own; a child prints the time of
its loop (from the open to the last record, or the appends with the save),
what it read (a digest every reader must agree on) and its peak resident
size. The whole process (interpreter, imports, the loop) is timed as well.
Run through bench/run-python, which builds what it needs.

    python_bench.py BUILD_DIR DATA_DIR [--reads 100000,1000000] [--writes 100000]
                    [--repetitions 3]
"""
import argparse
import filecmp
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

PYTHON_READERS = ("cijobresults", "lxml", "ElementTree")
CPP_READER = "C++ JobResultsReader"


# --- the children: one loop each ---------------------------------------------

def peak_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return -1


def read_cijobresults(path):
    import cijobresults
    count = sizes = lengths = 0
    for record in cijobresults.read(path):
        count += 1
        sizes += record.size
        lengths += (len(record.client_name) + len(record.url) + len(record.backup_job_id)
                    + len(record.error_string))
    return count, sizes, lengths


def fold_element(record, totals):
    """Adds one JobResult element of a general XML parser to the totals."""
    totals[0] += 1
    for field in record:
        text = (field.text or "").strip()
        if field.tag == "Size":
            totals[1] += int(text)
        else:
            totals[2] += len(text)


def read_lxml(path):
    from lxml import etree
    totals = [0, 0, 0]
    for _, record in etree.iterparse(path, events=("end",), tag="JobResult"):
        fold_element(record, totals)
        record.clear()
        while record.getprevious() is not None:
            del record.getparent()[0]
    return tuple(totals)


def read_elementtree(path):
    import xml.etree.ElementTree as ElementTree
    totals = [0, 0, 0]
    events = ElementTree.iterparse(path, events=("start", "end"))
    _, root = next(events)
    for event, element in events:
        if event == "end" and element.tag == "JobResult":
            fold_element(element, totals)
            root.clear()
    return tuple(totals)


def write_cijobresults(source, dir_name):
    import cijobresults
    records = [tuple(record) for record in cijobresults.read(source)]
    start = time.perf_counter_ns()
    with cijobresults.Writer(dir_name) as writer:
        add = writer.add
        for client, url, job, error, size in records:
            add(client_name=client, url=url, backup_job_id=job, error_string=error, size=size)
    return time.perf_counter_ns() - start, writer.path


def child(arguments):
    if arguments[0] == "write":
        elapsed, path = write_cijobresults(arguments[1], arguments[2])
        print(elapsed, path)
        return
    read = {"cijobresults": read_cijobresults, "lxml": read_lxml,
            "ElementTree": read_elementtree}[arguments[0]]
    start = time.perf_counter_ns()
    digest = read(arguments[1])
    elapsed = time.perf_counter_ns() - start
    print(elapsed, "%d:%d:%d" % digest, peak_kib())


# --- the parent: processes, medians, the table ----------------------------------

def run(command, env):
    start = time.perf_counter_ns()
    out = subprocess.run(command, check=True, capture_output=True, text=True, env=env).stdout
    return time.perf_counter_ns() - start, out.split()


def read_once(tool, path, build, env):
    """(loop ns, whole-process ns, records, digest, peak KiB) of one read
    process; the C++ reader's digest is its own."""
    if tool == CPP_READER:
        directory, name = path.rsplit("\\", 1)
        whole, out = run([os.path.join(build, "bench", "read_once"), "JobResultsReader", directory,
                          name], env)
        return int(out[0]), whole, int(out[1]), None, int(out[4])
    whole, out = run([sys.executable, __file__, "--child", tool, path], env)
    return int(out[0]), whole, int(out[1].split(":")[0]), out[1], int(out[2])


def data_file(build, data, records, env):
    path = os.path.join(data, "jr\\ci_push_%d.xml" % records)
    if not os.path.exists(path):
        print("generating %s" % path, file=sys.stderr)
        subprocess.run([os.path.join(build, "bench", "jobresults_gen"), str(records), path],
                       check=True, env=env)
    return path


def measure_reads(build, data, sizes, repetitions, env):
    rows = {}
    tools = PYTHON_READERS + (CPP_READER,)
    for records in sizes:
        path = data_file(build, data, records, env)
        runs = {tool: [] for tool in tools}
        for repetition in range(repetitions):
            for tool in tools:  # interleaved, so that the machine's load spreads over all
                print("read %d records, %s, %d/%d" % (records, tool, repetition + 1, repetitions),
                      file=sys.stderr)
                runs[tool].append(read_once(tool, path, build, env))
        digests = {r[3] for tool in PYTHON_READERS for r in runs[tool]}
        if len(digests) != 1:
            sys.exit("the Python readers disagree on %s: %s" % (path, digests))
        for tool in tools:
            counts = {r[2] for r in runs[tool]}
            if counts != {records}:
                sys.exit("%s delivered %s records of %d" % (tool, counts, records))
            rows[records, tool] = (statistics.median(r[0] for r in runs[tool]) / records,
                                   statistics.median(r[1] for r in runs[tool]) / records,
                                   max(r[4] for r in runs[tool]) / 1024)
    return rows


def measure_writes(build, data, records, repetitions, env):
    source = data_file(build, data, records, env)
    python, cpp = [], []
    with tempfile.TemporaryDirectory(dir=data) as scratch:
        for repetition in range(repetitions):
            print("write %d records, %d/%d" % (records, repetition + 1, repetitions),
                  file=sys.stderr)
            ours = os.path.join(scratch, "py%d" % repetition)
            reference = os.path.join(scratch, "cpp%d" % repetition)
            os.mkdir(reference)
            out = run([sys.executable, __file__, "--child", "write", source, ours], env)[1]
            python.append(int(out[0]))
            written = out[1]
            out = run([os.path.join(build, "bench", "append_once"), reference, str(records)],
                      env)[1]
            cpp.append(int(out[0]))
            if not filecmp.cmp(written, out[1], shallow=False):
                sys.exit("the Python writer's file differs from the C++ writer's")
            os.remove(written)
            shutil.rmtree(reference)
    return statistics.median(python) / records, statistics.median(cpp) / records


def print_table(reads, writes, sizes, write_records, repetitions):
    print("Python: read all records (each tool in processes of its own; medians of %d;"
          % repetitions)
    print("loop = open to last record inside the process, process = the whole process)")
    print("%-9s %-22s %11s %14s %10s %9s" % ("records", "tool", "loop ns/rec",
                                              "process ns/rec", "x ours", "peak MiB"))
    for records in sizes:
        ours = reads[records, "cijobresults"][0]
        for index, tool in enumerate(PYTHON_READERS + (CPP_READER,)):
            loop, whole, peak = reads[records, tool]
            print("%-9s %-22s %11.1f %14.1f %10.2f %9.1f" % (
                records if index == 0 else "", tool, loop, whole, loop / ours, peak))
    python, cpp = writes
    print()
    print("Python: append %d records (keyword arguments, save included; medians of %d)"
          % (write_records, repetitions))
    print("%-22s %7.1f ns/rec" % ("cijobresults.Writer", python))
    print("%-22s %7.1f ns/rec   Python / C++ = %.2f" % ("C++ append loop", cpp, python / cpp))
    largest, smallest = max(sizes), min(sizes)
    ours = reads[largest, "cijobresults"]
    print()
    print("Targets:")
    targets = [
        ("read, lxml / cijobresults >= 5 (%d)" % largest,
         reads[largest, "lxml"][0] / ours[0], lambda v: v >= 5),
        ("read, ns per record <= 1000, whole process (%d)" % largest, ours[1],
         lambda v: v <= 1000),
        ("read, peak MiB %d minus %d <= 1" % (largest, smallest),
         ours[2] - reads[smallest, "cijobresults"][2], lambda v: v <= 1),
        ("append, Python / C++ <= 2 (%d)" % write_records, python / cpp, lambda v: v <= 2),
    ]
    for text, value, met in targets:
        print("  %-52s %8.2f  %s" % (text, value, "met" if met(value) else "MISSED"))


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--child":
        return child(sys.argv[2:])
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build")
    parser.add_argument("data")
    parser.add_argument("--reads", default="100000,1000000")
    parser.add_argument("--writes", type=int, default=100000)
    parser.add_argument("--repetitions", type=int, default=3)
    options = parser.parse_args()
    env = dict(os.environ, PYTHONPATH=os.path.join(options.build, "python"))
    sizes = [int(size) for size in options.reads.split(",")]
    reads = measure_reads(options.build, options.data, sizes, options.repetitions, env)
    writes = measure_writes(options.build, options.data, options.writes, options.repetitions, env)
    print_table(reads, writes, sizes, options.writes, options.repetitions)


if __name__ == "__main__":
    main()
