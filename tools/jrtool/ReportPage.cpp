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

using Client = std::pair<std::string, ClientTally>;

// Those whose last job failed first, then those without a recent backup,
// then by name.
std::vector<Client> ClientsInOrder(const ReportTally& tally) {
    const auto shown = tally.ShownClients();
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

class PageWriter {
public:
    PageWriter(const std::string& dirName, const ReportTally& tally)
        : m_dirName(dirName), m_tally(tally), m_clients(ClientsInOrder(tally)) {}

    std::string Write() {
        m_page = kHead;
        m_page += "<title>Backup jobs: " + Escaped(m_dirName) + "</title>\n<style>\n" +
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
    void Heading() {
        const std::string now = FormatUtcTime(m_tally.Now());
        m_page += "<h1>Backup jobs of " + Escaped(m_dirName) +
                  "</h1>\n<p class=note>At <time datetime=\"" + now + "\">" + now +
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
        for (const auto& [name, client] : m_clients) {
            if (Stale(client, m_tally.Now())) ++stale;
        }
        m_page += "<p class=summary>";
        SummaryNumber("clients", m_clients.size(), "clients");
        SummaryNumber("jobs", m_tally.Jobs(), "jobs");
        SummaryNumber("failed", m_tally.Failed(), "failed");
        SummaryNumber("stale", stale,
                      "without a successful backup for more than " +
                          std::to_string(kStaleSeconds / 3600) + " hours");
        SummaryNumber("damaged", m_tally.DamagedFiles(), "damaged files");
        m_page += "<span><b data-summary=\"open\">" + std::to_string(m_tally.OpenFiles()) +
                  "</b> open files</span></p>\n";
    }

    void ClientTable() {
        m_page +=
            "<h2>Clients</h2>\n<div class=scroll><table><tr><th>Client<th>Last job<th>Time"
            "<th>Age<th>Size<th>Jobs<th>Failed<th>Size by day<th>Last failure</tr>\n";
        for (const auto& [name, client] : m_clients) {
            const Outcome& last = LastFailed(client) ? kFailed : kSucceeded;
            m_page += "<tr><td class=name>" + Escaped(name) + "<td class=\"t " + last.cssClass +
                      "\">" + last.symbol + " " + last.words + StaleNote(client) + "<td class=t>" +
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
        m_page += "</table></div>\n";
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
    // client's largest day; each bar's title gives the figures.
    void SizeChart(const ClientTally& client) {
        const long long days = m_tally.LastDay() - m_tally.FirstDay() + 1;
        const long long barWidth = std::max(2LL, 120 / days);
        std::uint64_t largest = 1;
        for (const auto& [day, tally] : client.days) largest = std::max(largest, tally.bytes);
        m_page += "<svg width=\"" + std::to_string(barWidth * days) +
                  "\" height=\"24\" role=\"img\" aria-label=\"bytes a day\">";
        for (const auto& [day, tally] : client.days) {
            const auto height = static_cast<long long>(1 + 22.0 * static_cast<double>(tally.bytes) /
                                                               static_cast<double>(largest));
            m_page += std::string(tally.failed > 0 ? "<rect class=fail" : "<rect") +
                      " x=" + std::to_string((day - m_tally.FirstDay()) * barWidth) +
                      " y=" + std::to_string(24 - height) +
                      " width=" + std::to_string(barWidth - 1) +
                      " height=" + std::to_string(height) + "><title>" + Date(day) + ": " +
                      HumanSize(tally.bytes) + " in " +
                      Counted(tally.succeeded + tally.failed, "job") + "</title></rect>";
        }
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
        m_page += "</p>\n<div class=scroll><table class=grid><tr><th>Client";
        for (long long day = m_tally.FirstDay(); day <= m_tally.LastDay(); ++day) {
            m_page += "<th class=d title=\"" + Date(day) + "\">" + Date(day).substr(5);
        }
        m_page += "</tr>\n";
        for (const auto& [name, client] : m_clients) {
            m_page += "<tr data-client=\"" + Escaped(name) + "\"><td class=name>" + Escaped(name);
            for (long long day = m_tally.FirstDay(); day <= m_tally.LastDay(); ++day) {
                const auto found = client.days.find(day);
                GridCell(day, found == client.days.end() ? DayTally() : found->second);
            }
            m_page += "</tr>\n";
        }
        m_page += "</table></div>\n";
    }

    void GridCell(long long day, const DayTally& tally) {
        const Outcome& outcome = OutcomeOf(tally);
        m_page += std::string("<td class=") + outcome.cssClass + " title=\"" + Date(day) + ": " +
                  std::to_string(tally.succeeded) + " succeeded, " + std::to_string(tally.failed) +
                  " failed\">" + outcome.symbol;
    }

    void Failures() {
        const auto& failures = m_tally.NewestFailures();
        m_page += "<h2>Failures</h2>\n";
        if (failures.empty()) {
            m_page += "<p>None.</p>\n";
            return;
        }
        m_page += "<ol>\n";
        for (auto failure = failures.rbegin(); failure != failures.rend(); ++failure) {
            m_page += "<li><span class=t>" + FormatUtcTime(failure->created) + "</span> <b>" +
                      Escaped(failure->client) + "</b> <span class=note>in " +
                      Escaped(failure->file) + "</span><div class=err>" + Escaped(failure->error) +
                      "</div>\n";
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
                      FormatUtcTime(file.created) + "</span> " + Escaped(file.path) + ", " +
                      Counted(file.records, "record") + (file.damaged ? " read" : "") +
                      "<div class=err>" + Escaped(file.verdict) + "</div>\n";
        }
        m_page += "</ul>\n";
        if (m_tally.FilesLeftOut() > 0) {
            m_page += "<p>and " + std::to_string(m_tally.FilesLeftOut()) + " more</p>\n";
        }
    }

    const std::string& m_dirName;
    const ReportTally& m_tally;
    std::vector<Client> m_clients;
    std::string m_page;
};

}  // namespace

std::string ReportPage(const std::string& dirName, const ReportTally& tally) {
    return PageWriter(dirName, tally).Write();
}

}  // namespace jrtool
