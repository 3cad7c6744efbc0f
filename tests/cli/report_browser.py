"""jobresults report in headless chromium: the page from file:// loads
without a console error, runs no script, keeps a hostile client name as
text, fits a phone's width, and its summary and grid equal a model computed
from `dump --format jsonl`. Run by CTest with CIJOBRESULTS_TOOL and
REPORT_WORKDIR set; the screenshot stays in REPORT_WORKDIR."""
import codecs
import datetime
import json
import os
import re
import shutil
import subprocess
import time
import unicodedata

import pytest

# Skipped in the fixture rather than here: a module skipped whole leaves
# pytest with no test, and that exit code (5) would fail the CTest run.
try:
    from selenium import webdriver
    from selenium.common.exceptions import NoAlertPresentException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
except ImportError as error:
    webdriver, SELENIUM_MISSING = None, str(error)

TOOL = os.environ["CIJOBRESULTS_TOOL"]
WORK = os.environ["REPORT_WORKDIR"]
DAY = 86400
EPOCH = datetime.date(1970, 1, 1).toordinal()
HOSTILE = b"<script>alert(1)</script>"
# (days ago, hours before the window's day ends, [(client, error)]).
FILES = [
    (20, 0, [(b"alpha", b""), (b"beta", b"disk full")]),  # before the window
    (3, 5, [(b"alpha", b""), (HOSTILE, b"<img src=x onerror=alert(2)>"), (b"q\"u'ote", b"")]),
    (2, 5, [(b"alpha", b"timeout"), (b"bad\xff\x01name", b""), (b"beta", b"")]),
    (1, 5, [(b"alpha", b""), (b"alpha", b"x\xfe"), (HOSTILE, b"")]),
    (1, 4, [("gnp.\u202eexe".encode(), b""),  # bidirectional controls would turn text around
            ("\u2066i\u2067s\u2068o\u2069\u200e\u200f\u061c".encode(), "\u202at\u202b\u202c\u202d".encode())]),
]


def run(*args, **kwargs):
    return subprocess.run([TOOL, *args], capture_output=True, **kwargs)


def write_file(records, created, damage=False):
    tsv = b"".join(c + b"\t/u\t1\t" + e + b"\t" + str(len(c)).encode() + b"\n" for c, e in records)
    made = run("write", "results", "-", input=tsv, check=True).stdout.decode().strip()
    path = f"results\\ci_push_{created}.xml"
    os.rename(made, path)
    with open(path, "r+b") as f:
        if damage:  # inside the last record: the records before it count
            f.seek(-40, os.SEEK_END)
            f.write(b"<<<<")
        else:  # the bare trailer a killed writer leaves: open
            f.seek(-9, os.SEEK_END)
            f.truncate()
            f.write(b"</Root>")


@pytest.fixture(scope="module")
def page():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    os.chdir(WORK)
    today = int(time.time()) // DAY
    for ago, hours, records in FILES:
        write_file(records, (today - ago + 1) * DAY - hours * 3600, damage=ago == 2)
    run("write", "results", "-", input=b"alpha\t/u\t1\t\t7\n", check=True)  # now, saved
    run("report", "results", "--output", "report.html", check=True)
    if webdriver is None:
        pytest.skip(f"python3-selenium is missing: {SELENIUM_MISSING}")
    options = webdriver.ChromeOptions()
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    try:
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    except Exception as error:  # noqa: BLE001 - any reason chromium cannot start
        pytest.skip(f"chromium cannot start: {error}")
    driver.get("file://" + os.path.abspath("report.html"))
    yield driver
    driver.quit()


def hidden(c):  # a control, or one of Unicode's Bidi_Control characters
    return unicodedata.category(c) == "Cc" or c in "\u200e\u200f\u061c" or unicodedata.bidirectional(c) in (
        "LRE", "RLE", "PDF", "LRO", "RLO", "LRI", "RLI", "FSI", "PDI")


codecs.register_error("perbyte", lambda e: ("\ufffd" * (e.end - e.start), e.end))


def shown(name):
    """The page's name for a client as `dump --format jsonl` gives it, read
    back to bytes: each stray byte U+FFFD, any other control but tab and
    newline escaped."""
    raw = re.sub(rb"\\(\\|x([0-9A-F]{2}))",
                 lambda m: bytes.fromhex(m.group(2).decode()) if m.group(2) else b"\\", name.encode())
    return "".join(c if c in "\t\n" or not hidden(c) else ("\\x%02X" if ord(c) < 0x80 else "\\u%04X") % ord(c)
                   for c in raw.decode("utf-8", "perbyte"))


def model(now, days):
    files = json.loads(run("list", "results", "--format", "json", check=True).stdout)
    summary = dict(clients=0, jobs=0, failed=0, stale=0, damaged=0, open=0)
    grid, last_success = {}, {}
    for f in files:
        damaged = run("check", f["path"]).returncode != 0
        summary["damaged" if damaged else "open"] += damaged or f["state"] == "open"
        for line in run("dump", f["path"], "--format", "jsonl").stdout.splitlines():
            r = json.loads(line)
            client, failed = shown(r["client"]), r["error"] != ""
            summary["jobs"] += 1
            summary["failed"] += failed
            last_success.setdefault(client, None)
            if not failed:
                last_success[client] = f["created_unix"]
            day = f["created_unix"] // DAY
            if now // DAY - days < day <= now // DAY:
                cell = grid.setdefault((client, day), [0, 0])
                cell[failed] += 1
    summary["clients"] = len(last_success)
    summary["stale"] = sum(t is None or now - t > 26 * 3600 for t in last_success.values())
    return summary, grid


def summary_of(page):
    return {e.get_attribute("data-summary"): int(e.text)
            for e in page.find_elements(By.CSS_SELECTOR, "[data-summary]")}


def test_page_matches_model(page):
    now = datetime.datetime.fromisoformat(
        page.find_element(By.TAG_NAME, "time").get_attribute("datetime").replace("Z", "+00:00"))
    expected_summary, expected_grid = model(int(now.timestamp()), 14)
    assert summary_of(page) == expected_summary
    assert {(c, day): n for (_, c, day), n in grid_of(page).items()} == expected_grid


def grid_of(page):
    """{(host, client, day): [succeeded, failed]} of the grid's cells with jobs;
    a cell's title gives its figures ("3 jobs, 1 failed, 12 B"), its column the day."""
    rows = page.execute_script("""const days = [...document.querySelectorAll('.grid th.d')].map(t => t.title);
        return [...document.querySelectorAll('.grid tr[data-client]')].map(r => [r.dataset.host || '',
            r.dataset.client, [...r.querySelectorAll('td[title]')].map(c => [days[c.cellIndex - 1], c.title])]);""")
    grid = {}
    for host, client, cells in rows:
        for day, title in cells:
            jobs, failed = re.fullmatch(r"(?:(\d+) jobs, )?(?:(\d+) failed, )?\d.*", title).groups()
            jobs, failed = int(jobs or 1), int(failed or 0)
            grid[(host, client, datetime.date.fromisoformat(day).toordinal() - EPOCH)] = [jobs - failed, failed]
    return grid


def test_page_in_browser(page):
    page.get(page.current_url)
    assert [e for e in page.get_log("browser") if e["level"] == "SEVERE"] == []
    assert page.execute_script("return document.scripts.length + document.images.length") == 0
    hostile = HOSTILE.decode()
    names = [e.text for e in page.find_elements(By.CSS_SELECTOR, "tr[data-client] td.name")]
    assert hostile in names and "q\"u'ote" in names
    assert hostile in page.find_element(By.TAG_NAME, "body").text
    assert not [c for c in page.find_element(By.TAG_NAME, "body").text if c not in "\t\n" and hidden(c)]
    with pytest.raises(NoAlertPresentException):
        page.switch_to.alert.text  # noqa: B018 - reading it raises when none is open
    fits_phone(page, "report-390px.png")


def fits_phone(page, screenshot):
    """The page at a phone's 390 px: a page wider than that would widen the
    layout viewport (innerWidth) or scroll sideways (scrollWidth)."""
    page.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                         {"width": 390, "height": 844, "deviceScaleFactor": 1, "mobile": True})
    page.get(page.current_url)
    width = page.execute_script("return [document.documentElement.scrollWidth, window.innerWidth]")
    assert width[0] <= width[1] == 390
    page.save_screenshot(os.path.join(WORK, screenshot))



LONG_HOST, LONG_CLIENT = "h" * 40 + ".very-long-label" * 8, "c" * 300


def test_hosts_page(page):
    """Three hosts on one page: alpha and beta name the same directory path,
    the long host a copy of its files (equal names) and one more client."""
    single, single_grid = summary_of(page), {(c, d): n for (_, c, d), n in grid_of(page).items()}
    os.makedirs("long")
    for name in os.listdir("."):
        if name.startswith("results\\"):
            shutil.copy2(name, os.path.join("long", name))
    run("write", "long/results", "-", input=LONG_CLIENT.encode() + b"\t/u\t1\t\t7\n", check=True)
    hosts = ["alpha", "beta", LONG_HOST]
    run("report", "alpha=results", "beta=results", f"{LONG_HOST}=long/results",
        "--output", "hosts.html", check=True)
    page.get("file://" + os.path.abspath("hosts.html"))
    assert page.title == "Backup jobs: 3 hosts: " + ", ".join(hosts)
    assert page.find_element(By.TAG_NAME, "h1").text == "Backup jobs of 3 hosts: " + ", ".join(hosts)
    expected = {key: 3 * value for key, value in single.items()}
    expected.update(hosts=3, clients=expected["clients"] + 1, jobs=expected["jobs"] + 1)
    assert summary_of(page) == expected
    grid = grid_of(page)
    for host in hosts:
        assert {(c, d): n for (h, c, d), n in grid.items() if h == host and c != LONG_CLIENT} == single_grid
    # The client table: each host's heading row, then one row per client.
    rows = page.execute_script("""return [...document.querySelector('table').rows].slice(1).map(
        r => r.classList.contains('host') ? 'host ' + r.textContent : 'client')""")
    assert rows == sum((["host " + h] + ["client"] * (single["clients"] + (h == LONG_HOST))
                        for h in hosts), [])
    failures = [e.text for e in page.find_elements(By.CSS_SELECTOR, "ol li")]
    assert len(failures) == expected["failed"]
    assert all(sum(f.count(" on " + h) for h in hosts) == 1 for f in failures)
    fits_phone(page, "hosts-390px.png")
