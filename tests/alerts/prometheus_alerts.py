#!/usr/bin/env python3
# The shipped alert rules in a real Prometheus, scraping a real node_exporter
# whose textfile collector serves `jobresults metrics`. A failing client, a
# missing client, a damaged file and a stuck writer must fire exactly their
# alerts; each must clear when its cause is gone; stopped metrics must fire
# and clear. Prometheus sends them to a real Alertmanager, which must deliver
# each, firing and then resolved, to a webhook with its host in its labels
# and summary. Prints the seconds each took.
#
# Usage: prometheus_alerts.py TOOL RULES WORKDIR
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import threading
import time
import urllib.request
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

tool, rules, work = os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[3]
shutil.rmtree(work, ignore_errors=True)
os.makedirs(os.path.join(work, "textfile"))
os.chdir(work)
# Quote, backslash, line break and a non-ASCII letter reach the file label.
DIR = 'jobs "nightly"\\x\né'
# The thresholds, in their one place in the rules, and every `for:`, made short.
LIMITS = {"backup_age_limit_seconds": 3600, "open_file_age_limit_seconds": 3,
          "metrics_age_limit_seconds": 5}
text = re.sub(r"(record: jobresults:(\w+)\n\s+expr: vector\()\d+",
              lambda m: m.group(1) + str(LIMITS[m.group(2)]), open(rules).read())
open("rules.yml", "w").write(re.sub(r"for: \S+", "for: 0s", text))


def free_port():
    with socket.socket() as probe:
        return probe.bind(("127.0.0.1", 0)) or probe.getsockname()[1]


def write(*records):
    lines = "".join("%s\tu\t1\t%s\t1\n" % record for record in records)
    return subprocess.run([tool, "write", "--format", "tsv", DIR], input=lines.encode(),
                          capture_output=True, check=True).stdout.decode().rstrip("\n")


def renamed(path, seconds):
    name = re.sub(r"ci_push_\d+\.xml$", "ci_push_%d.xml" % seconds, path)
    os.rename(path, name)
    return name


# The causes: a failing client, one last seen two hours ago, a damaged file,
# and a writer that does not save.
now = int(time.time())
write(("good", ""), ("failing", "disk full"))
renamed(write(("missing", "")), now - 7200)
damaged = renamed(write(("good", ""), ("good", "")), now - 60)
with open(damaged, "r+b") as cut:
    cut.truncate(os.path.getsize(damaged) - 30)
def open_writer():
    before = set(os.listdir("."))
    proc = subprocess.Popen([tool, "write", "--format", "tsv", DIR], stdin=subprocess.PIPE,
                            stdout=subprocess.DEVNULL)
    proc.stdin.write(b"good\tu\t1\t\t1\n")
    proc.stdin.flush()
    while not set(os.listdir(".")) - before:
        time.sleep(0.05)
    return proc, (set(os.listdir(".")) - before).pop()


# A writer that hangs, and one killed before its save, its file left open.
writer, _ = open_writer()
killed, left_open = open_writer()
killed.kill()

# jobresults metrics twice a second, as the timer would run it, until paused.
running = threading.Event()
running.set()


def metrics_loop():
    while True:
        running.wait()
        subprocess.run([tool, "metrics", DIR, "--output", "textfile/jobresults.prom"],
                       stderr=subprocess.DEVNULL)
        time.sleep(0.5)


threading.Thread(target=metrics_loop, daemon=True).start()
while not os.path.exists("textfile/jobresults.prom"):
    time.sleep(0.05)
assert subprocess.run(["promtool", "check", "metrics"],
                      stdin=open("textfile/jobresults.prom", "rb")).returncode == 0, "promtool check metrics"

# The webhook receiver: every alert Alertmanager delivers, as (status, labels,
# annotations).
delivered = []


class Webhook(BaseHTTPRequestHandler):
    def do_POST(self):
        body = json.loads(self.rfile.read(int(self.headers["Content-Length"])))
        delivered.extend((a["status"], a["labels"], a["annotations"]) for a in body["alerts"])
        self.send_response(200)
        self.end_headers()

    def log_message(self, *args):
        pass


webhook = ThreadingHTTPServer(("127.0.0.1", 0), Webhook)
threading.Thread(target=webhook.serve_forever, daemon=True).start()
# One notification per alert, at once, and its resolution too.
open("alertmanager.yml", "w").write(json.dumps({
    "route": {"receiver": "hook", "group_by": ["..."], "group_wait": "1s", "group_interval": "1s",
              "repeat_interval": "1h"},
    "receivers": [{"name": "hook", "webhook_configs": [
        {"url": "http://127.0.0.1:%d/" % webhook.server_port, "send_resolved": True}]}]}))

exporter_port, prometheus_port, alertmanager_port = free_port(), free_port(), free_port()
open("prometheus.yml", "w").write(json.dumps({
    "global": {"scrape_interval": "1s", "evaluation_interval": "1s"},
    "alerting": {"alertmanagers": [{"static_configs": [{"targets": ["127.0.0.1:%d" % alertmanager_port]}]}]},
    "rule_files": ["rules.yml"],
    "scrape_configs": [{"job_name": "node",
                        "static_configs": [{"targets": ["127.0.0.1:%d" % exporter_port]}]}]}))
servers = [
    subprocess.Popen(["prometheus-node-exporter", "--web.listen-address=127.0.0.1:%d" % exporter_port,
                      "--collector.disable-defaults", "--collector.textfile",
                      "--collector.textfile.directory=textfile"], stderr=subprocess.DEVNULL),
    subprocess.Popen(["prometheus-alertmanager", "--config.file=alertmanager.yml", "--storage.path=am",
                      "--web.listen-address=127.0.0.1:%d" % alertmanager_port, "--cluster.listen-address="],
                     stderr=subprocess.DEVNULL),
    subprocess.Popen(["prometheus", "--config.file=prometheus.yml", "--storage.tsdb.path=data",
                      "--rules.alert.resend-delay=1s",
                      "--web.listen-address=127.0.0.1:%d" % prometheus_port], stderr=subprocess.DEVNULL)]


def firing():
    try:
        answer = urllib.request.urlopen("http://127.0.0.1:%d/api/v1/alerts" % prometheus_port, timeout=2)
    except OSError:
        return None
    alerts = json.load(answer)["data"]["alerts"]
    return {(a["labels"]["alertname"], a["labels"].get("client") or a["labels"].get("file"))
            for a in alerts if a["state"] == "firing"}


# Waits until the firing alerts are exactly `expected`; prints the seconds.
def wait_for(expected, what, timeout=60):
    start, seen = time.monotonic(), {}
    while time.monotonic() - start < timeout:
        now_firing = firing()
        if now_firing is not None:
            seen.setdefault("answered", time.monotonic() - start)
        for alert in (now_firing or set()) - seen.keys():
            seen[alert] = time.monotonic() - start
        if now_firing == expected:
            for alert in sorted(expected, key=seen.get) if what.startswith("fire:") else ():
                print("  %-36s %5.1f s (API answered at %.1f s)" % (alert[0], seen[alert], seen["answered"]))
            return print("%-40s %5.1f s" % (what, time.monotonic() - start))
        time.sleep(0.2)
    raise SystemExit("FAIL: %s: firing %s, expected %s" % (what, firing(), expected))


def alert_key(labels):
    return labels["alertname"], labels.get("client") or labels.get("file")


# Waits until Alertmanager delivered each of `alerts` with `status`, and
# checks that every delivery names the host in its labels and summary.
def wait_delivered(alerts, status, timeout=60):
    start, host = time.monotonic(), "127.0.0.1:%d" % exporter_port
    while time.monotonic() - start < timeout:
        seen = {alert_key(labels) for s, labels, _ in list(delivered) if s == status}
        if alerts <= seen:
            break
        time.sleep(0.2)
    else:
        raise SystemExit("FAIL: delivered %s %s, expected each of %s" % (status, seen, alerts))
    unnamed = [(labels, notes) for _, labels, notes in delivered
               if labels.get("instance") != host or host not in notes.get("summary", "")]
    if unnamed:
        raise SystemExit("FAIL: deliveries that do not name the host %s: %s" % (host, unnamed))
    print("%-40s %5.1f s" % ("delivered: each " + status, time.monotonic() - start))


try:
    # The hanging writer shows once the file that lost its writer is closed.
    expected = {("JobresultsBackupFailed", "failing"), ("JobresultsBackupMissing", "missing"),
                ("JobresultsDamagedFile", damaged), ("JobresultsWriterStuck", left_open)}
    wait_for(expected, "fire: all four, from the servers' start")
    wait_delivered(set(expected), "firing")
    cures = [(("JobresultsWriterStuck", left_open),
              lambda: (subprocess.run([tool, "close", left_open], capture_output=True, check=True),
                       expected.add(("JobresultsWriterStuck", None)))),
             (("JobresultsBackupFailed", "failing"), lambda: write(("failing", ""))),
             (("JobresultsBackupMissing", "missing"), lambda: write(("missing", ""))),
             (("JobresultsDamagedFile", damaged),
              lambda: subprocess.run([tool, "salvage", damaged], capture_output=True, check=True)),
             (("JobresultsWriterStuck", None), lambda: (writer.stdin.close(), writer.wait()))]
    for alert, cure in cures:
        cure()
        expected.discard(alert)
        wait_for(expected, "clear: " + alert[0])
    running.clear()
    wait_for({("JobresultsMetricsStale", None)}, "fire: JobresultsMetricsStale, runs stopped")
    wait_delivered({("JobresultsMetricsStale", None)}, "firing")
    running.set()
    wait_for(set(), "clear: JobresultsMetricsStale")
    wait_delivered({("JobresultsBackupFailed", "failing"), ("JobresultsBackupMissing", "missing"),
                    ("JobresultsDamagedFile", damaged), ("JobresultsWriterStuck", None),
                    ("JobresultsWriterStuck", left_open),
                    ("JobresultsMetricsStale", None)}, "resolved")
finally:
    for server in servers:
        server.terminate()
        server.wait()
    webhook.shutdown()
    writer.kill()
