#include "jrtool/ReportPage.h"

#include <algorithm>
#include <tuple>
#include <vector>

#include "jrtool/Html.h"
#include "jrtool/Output.h"
#include "jrtool/ReportStyle.h"

namespace jrtool {

namespace {

// Scripts, fonts, images and requests of any kind are refused: the page
// needs none, and a value that slipped through escaping could not run.
const char* const kHead = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; style-src 'unsafe-inline'; script-src 'none'; form-action 'none'; base-uri 'none'">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="referrer" content="no-referrer">
)";

// The symbols carry the outcome without colour.
struct Outcome {
    const char* cssClass;
    const char* symbol;
    const char* words;
};
const Outcome kSucceeded{"ok", "\xE2\x9C\x93", "succeeded"};   // ✓
const Outcome kFailed{"fail", "\xE2\x9C\x97", "failed"};       // ✗
const Outcome kMixed{"mixed", "\xE2\x97\x90", "some failed"};  // ◐
const Outcome kNoJob{"none", "\xC2\xB7", "no job"};            // ·

const Outcome& OutcomeOf(const DayTally& day) {
    if (day.failed == 0) return day.succeeded == 0 ? kNoJob : kSucceeded;
    return day.succeeded == 0 ? kFailed : kMixed;
}

std::string Date(long long day) { return FormatUtcTime(day * kSecondsPerDay).substr(0, 10); }

std::string Age(long long seconds) {
    if (seconds < 0) return "ahead of the clock";
    const long long hours = seconds / 3600;
    if (hours < 1) return std::to_string(seconds / 60) + " min";
    if (hours < 48) return std::to_string(hours) + " h";
    return std::to_string(hours / 24) + " d " + std::to_string(hours % 24) + " h";
}

bool LastFailed(const ClientTally& client) {
    return client.last.sequence != client.lastSuccess.sequence;
}

bool Stale(const ClientTally& client, long long now) {
    return client.lastSuccess.sequence == 0 || now - client.lastSuccess.created > kStaleSeconds;
}

// The host names the title and the heading spell out; the rest are counted.
constexpr std::size_t kHostsNamed = 5;
// The host of plain directory names, on a page that names other hosts.
const char* const kNoHostName = "(no host given)";

std::string ShownHost(const std::string& name) { return name.empty() ? kNoHostName : name; }

// A day's figures, the title of its grid cell: "2.0 GiB", "3 jobs, 1 failed,
// 5.1 GiB". The column gives the date and the symbol the outcome, so one
// job goes without saying: that is most cells.
std::string DayFigures(const DayTally& day) {
    std::string figures;
    const std::uint64_t jobs = day.succeeded + day.failed;
    if (jobs > 1) figures += std::to_string(jobs) + " jobs, ";
    if (day.failed > 0) figures += std::to_string(day.failed) + " failed, ";
    return figures + HumanSize(day.bytes);
}

// Half of n in SVG's numbers: "1", "1.5".
std::string Half(long long n) { return std::to_string(n / 2) + (n % 2 != 0 ? ".5" : ""); }

using Client = std::pair<std::string, ClientTally>;

// A host's clients: those whose last job failed first, then those without a
// recent backup, then by name.
std::vector<Client> ClientsInOrder(const ReportTally& tally, std::size_t host) {
    const auto shown = tally.ShownClients(host);
    std::vector<Client> clients(shown.begin(), shown.end());
    const long long now = tally.Now();
    std::stable_sort(clients.begin(), clients.end(), [now](const Client& a, const Client& b) {
        const auto rank = [now](const ClientTally& c) {
            if (LastFailed(c)) return 0;
            return Stale(c, now) ? 1 : 2;
        };
        return rank(a.second) < rank(b.second);
    });
    return clients;
}

bool AnyHostNamed(const std::vector<ReportSource>& sources) {
    return std::any_of(sources.begin(), sources.end(),
                       [](const ReportSource& source) { return !source.host.empty(); });
}

class PageWriter {
public:
    PageWriter(const std::vector<ReportSource>& sources, const ReportTally& tally)
        : m_sources(sources), m_tally(tally), m_hostsNamed(AnyHostNamed(sources)) {
        for (std::size_t host = 0; host < tally.Hosts().size(); ++host) {
            m_clients.push_back(ClientsInOrder(tally, host));
            m_clientCount += m_clients.back().size();
        }
    }

    std::string Write() {
        m_page = kHead;
        m_page += "<title>Backup jobs: " + Escaped(Subject()) + "</title>\n<style>\n" +
                  kReportStyle + "</style>\n</head>\n<body>\n";
        Heading();
        Summary();
        ClientTable();
        Grid();
        Failures();
        Files();
        m_page += "</body>\n</html>\n";
        return std::move(m_page);
    }

private:
    std::string HostName(std::size_t host) const { return ShownHost(m_tally.Hosts()[host].name); }

    // What the page is of: its directory names, or its hosts when any is
    // named (the first few by name).
    std::string Subject() const {
        std::string subject;
        if (!m_hostsNamed) {
            for (const ReportSource& source : m_sources) {
                subject += (subject.empty() ? "" : ", ") + source.dirName;
            }
            return subject;
        }
        const std::size_t hosts = m_tally.Hosts().size();
        subject = Counted(hosts, "host") + ": ";
        for (std::size_t host = 0; host < std::min(hosts, kHostsNamed); ++host) {
            subject += (host == 0 ? "" : ", ") + HostName(host);
        }
        return subject + (hosts > kHostsNamed ? ", \xE2\x80\xA6" : "");  // …
    }

    // Which directory names the page read, of which host.
    void Sources() {
        if (!m_hostsNamed) return;
        m_page += "<p class=note>";
        for (const ReportSource& source : m_sources) {
            m_page += "<span><b>" + Escaped(ShownHost(source.host)) + "</b> " +
                      Escaped(source.dirName) + "</span> \xC2\xB7 ";
        }
        m_page.resize(m_page.size() - 4);  // the last separator
        m_page += "</p>\n";
    }

    void Heading() {
        const std::string now = FormatUtcTime(m_tally.Now());
        m_page += "<h1>Backup jobs of " + Escaped(Subject()) + "</h1>\n";
        Sources();
        m_page += "<p class=note>At <time datetime=\"" + now + "\">" + now +
                  "</time>. Times are UTC. The time of a job is the creation time of the file that "
                  "holds it, the only time the files keep: a job appended to a file hours "
                  "after its creation counts at that creation time, and on that day.</p>\n";
    }

    void SummaryNumber(const char* key, std::uint64_t value, const std::string& words) {
        m_page += "<span><b data-summary=\"" + std::string(key) + "\">" + std::to_string(value) +
                  "</b> " + words + "</span> \xC2\xB7 ";
    }

    void Summary() {
        std::uint64_t stale = 0;
        for (const auto& clients : m_clients) {
            for (const auto& [name, client] : clients) {
                if (Stale(client, m_tally.Now())) ++stale;
            }
        }
        m_page += "<p class=summary>";
        if (m_hostsNamed) SummaryNumber("hosts", m_tally.Hosts().size(), "hosts");
        SummaryNumber("clients", m_clientCount, "clients");
        SummaryNumber("jobs", m_tally.Jobs(), "jobs");
        SummaryNumber("failed", m_tally.Failed(), "failed");
        SummaryNumber("stale", stale,
                      "without a successful backup for more than " +
                          std::to_string(kStaleSeconds / 3600) + " hours");
        SummaryNumber("damaged", m_tally.DamagedFiles(), "damaged files");
        m_page += "<span><b data-summary=\"open\">" + std::to_string(m_tally.OpenFiles()) +
                  "</b> open files</span></p>\n";
    }

    // Where a host's rows begin on a page of hosts: its name across the
    // table, and a word when it has no jobs.
    void HostRow(std::size_t host, int columns) {
        if (!m_hostsNamed) return;
        m_page += "<tr class=host><th colspan=" + std::to_string(columns) + "><span>" +
                  Escaped(HostName(host)) + "</span>" +
                  (m_clients[host].empty() ? " <i>no jobs</i>" : "") + "</tr>\n";
    }

    void ClientTable() {
        m_page +=
            "<h2>Clients</h2>\n<div class=scroll><table><tr><th>Client<th>Last job<th>Time"
            "<th>Age<th>Size<th>Jobs<th>Failed<th>Size by day<th>Last failure</tr>\n";
        for (std::size_t host = 0; host < m_clients.size(); ++host) {
            HostRow(host, 9);
            for (const auto& [name, client] : m_clients[host]) ClientRow(name, client);
        }
        m_page += "</table></div>\n";
    }

    void ClientRow(const std::string& name, const ClientTally& client) {
        const Outcome& last = LastFailed(client) ? kFailed : kSucceeded;
        m_page += "<tr><td class=name>" + Escaped(name) + "<td class=\"t " + last.cssClass + "\">" +
                  last.symbol + " " + last.words + StaleNote(client) + "<td class=t>" +
                  FormatUtcTime(client.last.created) + "<td class=n>" +
                  Age(m_tally.Now() - client.last.created) + "<td class=n>" +
                  HumanSize(client.last.size) + "<td class=n>" + std::to_string(client.jobs) +
                  "<td class=n>" + std::to_string(client.failed) + "<td>";
        SizeChart(client);
        m_page += "<td>";
        if (client.lastFailure.sequence != 0) {
            m_page += "<span class=t>" + FormatUtcTime(client.lastFailure.created) +
                      "</span><div class=err>" + Escaped(client.lastFailure.error) + "</div>";
        }
        m_page += "</tr>\n";
    }

    // Under the last outcome, how long a stale client has gone without a
    // successful backup.
    std::string StaleNote(const ClientTally& client) const {
        if (!Stale(client, m_tally.Now())) return "";
        const std::string since =
            client.lastSuccess.sequence == 0
                ? "never succeeded"
                : "no success for " + Age(m_tally.Now() - client.lastSuccess.created);
        return "<div class=stale>\xE2\x9A\xA0 " + since + "</div>";  // ⚠
    }

    // One bar a day, its height the bytes of that day's jobs against the
    // client's largest day, red for a day with a failure; the grid's cells
    // give the figures. A bar is a stroke of one path, a few bytes: a page of
    // thousands of clients carries a bar for each of their days.
    void SizeChart(const ClientTally& client) {
        const long long days = m_tally.LastDay() - m_tally.FirstDay() + 1;
        const long long barWidth = std::max(2LL, 120 / days);
        std::uint64_t largest = 1;
        for (const auto& [day, tally] : client.days) largest = std::max(largest, tally.bytes);
        std::string bars[2];  // without, with a failure
        for (const auto& [day, tally] : client.days) {
            const auto height = static_cast<long long>(1 + 22.0 * static_cast<double>(tally.bytes) /
                                                               static_cast<double>(largest));
            bars[tally.failed > 0 ? 1 : 0] +=
                "M" + std::to_string((day - m_tally.FirstDay()) * barWidth) + " " +
                std::to_string(24 - height) + "V24";
        }
        // The view box moves the strokes, drawn about their middle, onto
        // whole pixels.
        const std::string width = std::to_string(barWidth * days);
        m_page += "<svg width=" + width + " height=24 viewBox=\"-" + Half(barWidth - 1) + " 0 " +
                  width + " 24\" stroke-width=" + std::to_string(barWidth - 1) +
                  " role=img aria-label=\"bytes a day, largest " + HumanSize(largest) + "\">";
        if (!bars[0].empty()) m_page += "<path d=\"" + bars[0] + "\"/>";
        if (!bars[1].empty()) m_page += "<path class=fail d=\"" + bars[1] + "\"/>";
        m_page += "</svg>";
    }

    void Grid() {
        m_page +=
            "<h2>Last " +
            Counted(static_cast<std::uint64_t>(m_tally.LastDay() - m_tally.FirstDay() + 1), "day") +
            "</h2>\n<p class=note>";
        for (const Outcome* o : {&kSucceeded, &kFailed, &kMixed, &kNoJob}) {
            m_page += std::string("<span class=") + o->cssClass + ">" + o->symbol + "</span> " +
                      o->words + " &nbsp; ";
        }
        m_page += "</p>\n<div class=\"scroll tall\"><table class=grid><tr><th>Client";
        for (long long day = m_tally.FirstDay(); day <= m_tally.LastDay(); ++day) {
            m_page += "<th class=d title=\"" + Date(day) + "\">" + Date(day).substr(5);
        }
        m_page += "</tr>\n";
        const int columns = static_cast<int>(m_tally.LastDay() - m_tally.FirstDay() + 2);
        for (std::size_t host = 0; host < m_clients.size(); ++host) {
            HostRow(host, columns);
            for (const auto& [name, client] : m_clients[host]) GridRow(host, name, client);
        }
        m_page += "</table></div>\n";
    }

    void GridRow(std::size_t host, const std::string& name, const ClientTally& client) {
        // On a page of hosts each row names its host too: a client name
        // alone is not unique.
        m_page += "<tr";
        if (m_hostsNamed) m_page += " data-host=\"" + Escaped(m_tally.Hosts()[host].name) + "\"";
        m_page += " data-client=\"" + Escaped(name) + "\"><td class=name>" + Escaped(name);
        auto found = client.days.begin();
        for (long long day = m_tally.FirstDay(); day <= m_tally.LastDay(); ++day) {
            if (found != client.days.end() && found->first == day) {
                GridCell((found++)->second);
            } else {
                m_page += std::string("<td class=") + kNoJob.cssClass + ">" + kNoJob.symbol;
            }
        }
        m_page += "</tr>\n";
    }

    // A cell that succeeded takes the grid's own colours: most cells do,
    // and a page of many hosts has tens of thousands.
    void GridCell(const DayTally& tally) {
        const Outcome& outcome = OutcomeOf(tally);
        m_page += "<td";
        if (&outcome != &kSucceeded) m_page += std::string(" class=") + outcome.cssClass;
        m_page += " title=\"" + DayFigures(tally) + "\">" + outcome.symbol;
    }

    // After a client or file, on a page of hosts: whose it is.
    std::string OnHost(std::size_t host) const {
        return m_hostsNamed ? " on <b>" + Escaped(HostName(host)) + "</b>" : "";
    }

    void Failures() {
        const auto failures = m_tally.NewestFailures();
        m_page += "<h2>Failures</h2>\n";
        if (failures.empty()) {
            m_page += "<p>None.</p>\n";
            return;
        }
        m_page += "<ol>\n";
        for (auto failure = failures.rbegin(); failure != failures.rend(); ++failure) {
            m_page += "<li><span class=t>" + FormatUtcTime(failure->created) + "</span> <b>" +
                      Escaped(failure->client) + "</b>" + OnHost(failure->host) +
                      " <span class=note>in " + Escaped(failure->file) + "</span><div class=err>" +
                      Escaped(failure->error) + "</div>\n";
        }
        m_page += "</ol>\n";
        if (m_tally.FailuresLeftOut() > 0) {
            m_page += "<p>and " + std::to_string(m_tally.FailuresLeftOut()) + " more</p>\n";
        }
    }

    void Files() {
        m_page += "<h2>Open and damaged files</h2>\n<p class=note>" +
                  Counted(m_tally.SavedFiles(), "file") +
                  " saved. An open file's writer has not saved it yet, or stopped; "
                  "<code>jobresults salvage</code> copies the intact records of a damaged "
                  "one.</p>\n";
        if (m_tally.NotableFiles().empty()) return;
        m_page += "<ul>\n";
        for (const NotableFile& file : m_tally.NotableFiles()) {
            m_page += "<li>" + std::string(file.damaged ? kFailed.symbol : kMixed.symbol) + " <b>" +
                      (file.damaged ? "damaged" : "open") + "</b> <span class=t>" +
                      FormatUtcTime(file.created) + "</span>" + OnHost(file.host) + " " +
                      Escaped(file.path) + ", " + Counted(file.records, "record") +
                      (file.damaged ? " read" : "") + "<div class=err>" + Escaped(file.verdict) +
                      "</div>\n";
        }
        m_page += "</ul>\n";
        if (m_tally.FilesLeftOut() > 0) {
            m_page += "<p>and " + std::to_string(m_tally.FilesLeftOut()) + " more</p>\n";
        }
    }

    const std::vector<ReportSource>& m_sources;
    const ReportTally& m_tally;
    const bool m_hostsNamed;
    std::vector<std::vector<Client>> m_clients;  // by host
    std::size_t m_clientCount = 0;
    std::string m_page;
};

}  // namespace

std::string ReportPage(const std::vector<ReportSource>& sources, const ReportTally& tally) {
    return PageWriter(sources, tally).Write();
}

}  // namespace jrtool
