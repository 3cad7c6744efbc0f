#!/usr/bin/env python3
"""Three hosts' records into a real store through follow --exec and the
shipped recipe, while writers, follow, the sink command and the server are
killed a bounded number of times. At the end every record of every file is
in the store exactly once by its file_id and offset, with the fields
written. Usage: store_pipeline.py clickhouse|postgresql TOOL STORES WORKDIR"""
import atexit, json, os, random, shutil, signal, socket, subprocess, sys, threading, time

kind, tool, stores, work = sys.argv[1], os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3]), sys.argv[4]
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
os.chdir(work)
seed = int(os.environ.get("CIJOBRESULTS_TEST_SEED") or random.randrange(1 << 30))
print("random seed %d; replay with CIJOBRESULTS_TEST_SEED=%d" % (seed, seed))
rng = random.Random(seed)
HOSTS = ["alpha", "beta", "gamma"]
FIELDS = ["file_id", "offset", "host", "file", "client", "url", "job_id", "error", "size"]


def free_port():
    with socket.socket() as probe:
        return probe.bind(("127.0.0.1", 0)) or probe.getsockname()[1]


def wait_until(ready, what, timeout=60):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if ready():
            return
        time.sleep(0.2)
    raise SystemExit("FAIL: %s" % what)


class ClickHouse:
    def __init__(self):
        self.port = free_port()
        os.makedirs("ch/data")
        open("ch/users.xml", "w").write(
            "<yandex><profiles><default/></profiles><quotas><default/></quotas><users><default>"
            "<password/><networks><ip>127.0.0.1</ip></networks><profile>default</profile>"
            "<quota>default</quota></default></users></yandex>")
        open("ch/config.xml", "w").write(
            "<yandex><logger><level>warning</level><console>1</console></logger>"
            "<tcp_port>%d</tcp_port><listen_host>127.0.0.1</listen_host><path>%s/ch/data/</path>"
            "<tmp_path>%s/ch/tmp/</tmp_path><users_config>users.xml</users_config>"
            "<mark_cache_size>5368709</mark_cache_size></yandex>" % (self.port, os.getcwd(), os.getcwd()))
        self.client = "clickhouse-client --port %d" % self.port
        self.sink = self.client + (' --input_format_skip_unknown_fields=1'
                                   ' --query "INSERT INTO jobresults FORMAT JSONEachRow"')

    def start(self):
        self.server = subprocess.Popen(["clickhouse-server", "--config-file=ch/config.xml"],
                                       stdout=subprocess.DEVNULL, stderr=open("ch/server.log", "ab"))
        wait_until(lambda: self.query("SELECT 1") == "1\n", "clickhouse-server answers")

    def stop(self, sig=signal.SIGTERM):
        self.server.send_signal(sig)
        self.server.wait()

    def query(self, sql=None, stdin=None):
        command = self.client + " --multiquery" + (' --query "%s"' % sql if sql else "")
        out = subprocess.run(command, shell=True, input=stdin, capture_output=True, text=True)
        return out.stdout if out.returncode == 0 else None

    def create(self):
        assert self.query(stdin=open(os.path.join(stores, "clickhouse.sql")).read()) is not None

    def rows(self):
        # Every row as stored, before and after the merge that drops repeats.
        every = self.query("SELECT %s FROM jobresults FORMAT JSONEachRow" % ", ".join(FIELDS))
        final = self.query("SELECT file_id, offset FROM jobresults FINAL FORMAT TSV")
        return [json.loads(line) for line in every.splitlines()], final.splitlines()


class PostgreSQL:
    BIN = "/usr/lib/postgresql/15/bin/"

    def __init__(self):
        self.port = free_port()
        os.makedirs("pg")
        shutil.chown("pg", "postgres")
        self.run_as(self.BIN + "initdb", "-D", "pg/data", "--auth=trust", "-U", "postgres")
        os.environ.update(PGHOST="127.0.0.1", PGPORT=str(self.port), PGUSER="postgres", PGDATABASE="postgres")
        self.sink = "psql -X -q -1 -v ON_ERROR_STOP=1 -f " + os.path.join(stores, "postgresql-batch.sql")

    def run_as(self, *command):
        subprocess.run(["runuser", "-u", "postgres", "--", *command], check=True, stdout=subprocess.DEVNULL)

    def start(self):
        self.server = subprocess.Popen(["runuser", "-u", "postgres", "--", self.BIN + "postgres", "-D", "pg/data",
                                        "-c", "listen_addresses=127.0.0.1", "-p", str(self.port), "-k", ""],
                                       stderr=open("pg.log", "ab"))
        wait_until(lambda: self.query("SELECT 1") == "1\n", "postgres answers")

    def stop(self, sig=signal.SIGTERM):
        # A killed postmaster's backends must be gone before it starts again.
        subprocess.run(["pkill", "-%d" % sig, "-u", "postgres"] if sig == signal.SIGKILL
                       else ["pkill", "-%d" % sig, "-f", "pg/data"])
        self.server.wait()
        wait_until(lambda: subprocess.run(["pgrep", "-u", "postgres"], capture_output=True).returncode, "postgres gone")

    def query(self, sql):
        out = subprocess.run(["psql", "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-c", sql],
                             capture_output=True, text=True)
        return out.stdout if out.returncode == 0 else None

    def create(self):
        subprocess.run(["psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-f", os.path.join(stores, "postgresql.sql")],
                       check=True)

    def rows(self):
        every = self.query("SELECT row_to_json(r) FROM (SELECT %s FROM jobresults) r" %
                           ", ".join('"%s"' % f for f in FIELDS))
        rows = [json.loads(line) for line in every.splitlines()]
        return rows, ["%s\t%s" % (row["file_id"], row["offset"]) for row in rows]


store = {"clickhouse": ClickHouse, "postgresql": PostgreSQL}[kind]()
store.start()
followers = {}
# Every server and follow goes at the end, whatever happened.
atexit.register(lambda: ([p.kill() for p in followers.values()], store.stop(signal.SIGKILL)))
store.create()


def follow(host):
    followers[host] = subprocess.Popen(
        [tool, "follow", host + "/results", "--state", host + "/state", "--from-start", "--host", host,
         "--exec", store.sink, "--batch-records", "50", "--batch-ms", "100", "--exec-timeout", "10"],
        stderr=open(host + "/follow.err", "ab"))


def writer(host, rounds):
    for n in range(rounds):
        proc = subprocess.Popen([tool, "write", host + "/results", "-"], stdin=subprocess.PIPE,
                                stdout=subprocess.DEVNULL)
        for i in range(rng.randrange(20, 200)):
            error = "" if rng.random() < 0.8 else "failed \"%d\"\\tcaf\xe9" % i
            proc.stdin.write(("c%d\t/u/%d\t%d-%d\t%s\t%d\n" % (rng.randrange(5), i, n, i, error, i * 1000)).encode())
            if rng.random() < 0.05:
                proc.stdin.flush()
                time.sleep(0.05)
        if rng.random() < 0.2:
            proc.stdin.flush()
            time.sleep(0.1)
            proc.kill()  # a writer killed: its file stays open, its records count
        else:
            proc.stdin.close()
        proc.wait()


for host in HOSTS:
    os.makedirs(host)
    follow(host)
writers = [threading.Thread(target=writer, args=(host, 8)) for host in HOSTS]
[w.start() for w in writers]
# The kills, a bounded number of each, while the writers run.
kills = {"follow": 3, "sink": 3, "server": 2}
while any(w.is_alive() for w in writers) and sum(kills.values()):
    time.sleep(rng.uniform(0.3, 1.0))
    what = rng.choice([k for k, v in kills.items() if v])
    kills[what] -= 1
    if what == "follow":
        host = rng.choice(HOSTS)
        followers[host].kill()
        followers[host].wait()
        follow(host)
    elif what == "sink":
        # The shell follow runs the command in: follow sees its run killed.
        subprocess.run(["pkill", "-9", "-P", str(followers[rng.choice(HOSTS)].pid)])
    else:
        store.stop(signal.SIGKILL)
        time.sleep(rng.uniform(0.5, 2))
        store.start()
[w.join() for w in writers]

def files(host):
    return sorted(os.path.join(host, n) for n in os.listdir(host) if n.startswith("results\\") and n.endswith(".xml"))


def written():
    expected = {}
    for host in HOSTS:
        for path in files(host):
            out = subprocess.run([tool, "dump", "--format", "jsonl", path], capture_output=True)
            for line in out.stdout.decode().splitlines():
                expected.setdefault((host, path), []).append(json.loads(line))
    return expected


expected = written()
total = sum(map(len, expected.values()))
wait_until(lambda: len(set(store.rows()[1])) >= total, "the store holds %d records" % total, 120)
time.sleep(1)
failures = ["follow of %s ended by itself: %s" % (host, proc.returncode)
            for host, proc in followers.items() if proc.poll() is not None]
for proc in followers.values():
    proc.terminate()
    proc.wait()
rows, keys = store.rows()
store.stop()
if len(keys) != len(set(keys)) or len(set(keys)) != total:
    failures.append("%d keys, %d distinct, %d records written" % (len(keys), len(set(keys)), total))
by_key = {}
for row in rows:
    row["size"], row["offset"] = int(row["size"]), int(row["offset"])  # ClickHouse quotes 64-bit numbers
    key = (row["file_id"], row["offset"])
    if by_key.setdefault(key, row) != row:
        failures.append("%s names two records: %s, %s" % (key, by_key[key], row))
stored = sorted((r["host"], r["client"], r["url"], r["job_id"], r["error"], r["size"]) for r in by_key.values())
want = sorted((host, r["client"], r["url"], r["job_id"], r["error"], r["size"])
              for (host, _), records in expected.items() for r in records)
if stored != want:
    failures.append("stored fields differ from those written: %d stored, %d written" % (len(stored), len(want)))
print("%d records from %d hosts, %d rows" % (total, len(HOSTS), len(rows)))
for failure in failures[:10]:
    print("FAIL:", failure, file=sys.stderr)
sys.exit(1 if failures else 0)
