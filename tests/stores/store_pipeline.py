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
with socket.socket() as probe:
    port = probe.bind(("127.0.0.1", 0)) or probe.getsockname()[1]
PG = "/usr/lib/postgresql/15/bin/"


def run(command, stdin=None):
    out = subprocess.run(command, shell=True, input=stdin, capture_output=True, text=True)
    return out.stdout if out.returncode == 0 else None


def wait_until(ready, what, timeout=60):
    end = time.monotonic() + timeout
    while not ready():
        if time.monotonic() > end:
            raise SystemExit("FAIL: %s" % what)
        time.sleep(0.2)


# Each store: its server, a query runner, the sink command of its recipe,
# and the query that counts rows once repeats are dropped.
if kind == "clickhouse":
    os.makedirs("ch")
    open("ch/config.xml", "w").write(
        "<yandex><logger><level>warning</level><console>1</console></logger><tcp_port>%d</tcp_port>"
        "<listen_host>127.0.0.1</listen_host><path>%s/ch/</path><tmp_path>%s/ch/tmp/</tmp_path><mark_cache_size>5368709</mark_cache_size>"
        "<users><default><password/><networks><ip>127.0.0.1</ip></networks><profile>default</profile>"
        "<quota>default</quota></default></users><profiles><default/></profiles><quotas><default/></quotas>"
        "</yandex>" % (port, os.getcwd(), os.getcwd()))
    server = ["clickhouse-server", "--config-file=ch/config.xml"]
    client = "clickhouse-client --port %d --multiquery" % port
    query = lambda sql: run(client + ' --query "%s FORMAT JSONEachRow"' % sql.replace('"', '\\"'))
    sink = client + ' --input_format_skip_unknown_fields=1 --query "INSERT INTO jobresults FORMAT JSONEachRow"'
    create, once = client + " < " + stores + "/clickhouse.sql", "FROM jobresults FINAL"
else:
    os.makedirs("pg")
    shutil.chown("pg", "postgres")
    run("runuser -u postgres -- %sinitdb -D pg/data --auth=trust -U postgres" % PG)
    os.environ.update(PGHOST="127.0.0.1", PGPORT=str(port), PGUSER="postgres", PGDATABASE="postgres")
    server = ["runuser", "-u", "postgres", "--", PG + "postgres", "-D", "pg/data", "-p", str(port), "-k", ""]
    query = lambda sql: run("psql -X -q -A -t -c \"SELECT row_to_json(r) FROM (%s) r\"" % sql.replace('"', '\\"'))
    sink = "psql -X -q -1 -v ON_ERROR_STOP=1 -f " + stores + "/postgresql-batch.sql"
    create, once = "psql -X -q -v ON_ERROR_STOP=1 -f " + stores + "/postgresql.sql", "FROM jobresults"
processes = {}


def start_server():
    # A session of its own: a kill takes the server with every process it
    # started, and nothing else on the machine.
    processes["server"] = subprocess.Popen(server, stdout=subprocess.DEVNULL, stderr=open("server.log", "ab"),
                                           start_new_session=True)
    wait_until(lambda: query("SELECT 1 AS one"), "the server answers")


def kill_server():
    group = processes["server"].pid
    os.killpg(group, signal.SIGKILL)
    processes["server"].wait()
    wait_until(lambda: subprocess.run(["pgrep", "-g", str(group)], stdout=subprocess.DEVNULL).returncode,
               "the server is gone")


def follow(host):
    processes[host] = subprocess.Popen(
        [tool, "follow", host + "/results", "--state", host + "/state", "--from-start", "--host", host,
         "--exec", sink, "--batch-records", "50", "--batch-ms", "100", "--exec-timeout", "10"],
        stderr=open(host + ".err", "ab"))


def writer(host, rounds):
    for n in range(rounds):
        proc = subprocess.Popen([tool, "write", host + "/results", "-"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
        for i in range(rng.randrange(20, 200)):
            error = "" if rng.random() < 0.8 else "failed \"%d\"\\tcaf\xe9" % i
            proc.stdin.write(("c%d\t/u/%d\t%d-%d\t%s\t%d\n" % (rng.randrange(5), i, n, i, error, i * 1000)).encode())
            if rng.random() < 0.05:
                proc.stdin.flush()
                time.sleep(0.05)
        proc.stdin.flush()
        proc.kill() if rng.random() < 0.2 else proc.stdin.close()  # a killed writer's records count too
        proc.wait()


atexit.register(lambda: [p.kill() for p in processes.values()] and os.killpg(processes["server"].pid, signal.SIGKILL))
start_server()
assert run(create) is not None, "the recipe's tables are created"
for host in HOSTS:
    os.makedirs(host)
    follow(host)
writers = [threading.Thread(target=writer, args=(host, 8)) for host in HOSTS]
[w.start() for w in writers]
kills = {"follow": 3, "sink": 3, "server": 2}
while any(w.is_alive() for w in writers) and sum(kills.values()):
    time.sleep(rng.uniform(0.3, 1.0))
    what, host = rng.choice([k for k, v in kills.items() if v]), rng.choice(HOSTS)
    kills[what] -= 1
    if what == "follow":
        processes[host].kill()
        processes[host].wait()
        follow(host)
    elif what == "sink":  # the shell follow runs the command in
        subprocess.run(["pkill", "-9", "-P", str(processes[host].pid)])
    else:
        kill_server()
        time.sleep(rng.uniform(0.5, 2))
        start_server()
[w.join() for w in writers]

want = []
for host in HOSTS:
    for name in sorted(n for n in os.listdir(host) if n.startswith("results\\")):
        dump = subprocess.run([tool, "dump", "--format", "jsonl", os.path.join(host, name)], capture_output=True)
        want += [(host, r["client"], r["url"], r["job_id"], r["error"], r["size"])
                 for r in map(json.loads, dump.stdout.decode().splitlines())]
count = lambda: int(json.loads(query("SELECT count(*) AS n " + once) or '{"n": -1}')["n"])
wait_until(lambda: count() >= len(want), "the store holds the %d records written" % len(want), 120)
failures = ["follow of %s ended by itself" % h for h in HOSTS if processes[h].poll() is not None]
rows = {}
for row in map(json.loads, query("SELECT %s FROM jobresults" % ", ".join('"%s"' % f for f in FIELDS)).splitlines()):
    row["size"], row["offset"] = int(row["size"]), int(row["offset"])  # ClickHouse quotes 64-bit numbers
    if rows.setdefault((row["file_id"], row["offset"]), row) != row:
        failures.append("two records under one file_id and offset: %s, %s" % (rows[row["file_id"], row["offset"]], row))
if count() != len(want):
    failures.append("%d rows once repeats are dropped, %d records written" % (count(), len(want)))
if sorted((r["host"], r["client"], r["url"], r["job_id"], r["error"], r["size"]) for r in rows.values()) != sorted(want):
    failures.append("the stored fields differ from those written")
print("%d records from %d hosts, %d rows once repeats are dropped" % (len(want), len(HOSTS), count()))
for failure in failures[:10]:
    print("FAIL:", failure, file=sys.stderr)
sys.exit(1 if failures else 0)
