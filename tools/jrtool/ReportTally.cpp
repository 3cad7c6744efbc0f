#include "jrtool/ReportTally.h"

#include <utility>

#include "jobresults/JobResultsTally.h"
#include "jrtool/Html.h"
#include "jrtool/Text.h"

namespace jrtool {

namespace {

// An error text of megabytes would make the page as large; this much says
// what went wrong.
constexpr std::size_t kErrorTextLimit = 600;
// The failures the page lists; older ones are counted.
constexpr std::size_t kNewestFailures = 50;
// Open and damaged files the page lists; more are counted.
constexpr std::size_t kNotableFiles = 100;

void KeepNewer(JobMoment& mine, const JobMoment& theirs) {
    if (mine.sequence < theirs.sequence) mine = theirs;
}

}  // namespace

long long DayOf(long long seconds) {
    // Division rounds toward zero; days before 1970 round down too.
    return seconds >= 0 ? seconds / kSecondsPerDay : -((-seconds - 1) / kSecondsPerDay) - 1;
}

void ClientTally::Merge(const ClientTally& other) {
    jobs += other.jobs;
    failed += other.failed;
    KeepNewer(last, other.last);
    KeepNewer(lastSuccess, other.lastSuccess);
    KeepNewer(lastFailure, other.lastFailure);
    for (const auto& [day, tally] : other.days) {
        DayTally& mine = days[day];
        mine.succeeded += tally.succeeded;
        mine.failed += tally.failed;
        mine.bytes += tally.bytes;
    }
}

ReportTally::ReportTally(long long now, int days)
    : m_now(now), m_firstDay(DayOf(now) - days + 1), m_lastDay(DayOf(now)) {}

void ReportTally::Add(const JobResults& record, long long created, const std::string& file) {
    ++m_jobs;
    auto found = m_clients.find(record.ClientName);
    if (found == m_clients.end()) found = m_clients.emplace(record.ClientName, ClientTally()).first;
    ClientTally& client = found->second;
    const bool succeeded = jobresults::Succeeded(record);
    ++client.jobs;
    JobMoment moment{m_jobs, created, record.Size, ""};
    if (!succeeded) moment.error = Shortened(record.ErrorString, kErrorTextLimit);
    (succeeded ? client.lastSuccess : client.lastFailure) = moment;
    client.last = std::move(moment);
    const long long day = DayOf(created);
    if (day >= m_firstDay && day <= m_lastDay) {
        DayTally& tally = client.days[day];
        ++(succeeded ? tally.succeeded : tally.failed);
        tally.bytes += record.Size;
    }
    if (succeeded) return;
    ++client.failed;
    ++m_failed;
    m_newestFailures.push_back({record.ClientName, created, client.last.error, file});
    if (m_newestFailures.size() > kNewestFailures) m_newestFailures.pop_front();
}

void ReportTally::AddFile(NotableFile file) {
    ++(file.damaged ? m_damagedFiles : m_openFiles);
    if (m_notableFiles.size() < kNotableFiles) m_notableFiles.push_back(std::move(file));
}

std::map<std::string, ClientTally> ReportTally::ShownClients() const {
    std::map<std::string, ClientTally> shown;
    for (const auto& [name, tally] : m_clients) shown[Utf8WithReplacement(name)].Merge(tally);
    return shown;
}

}  // namespace jrtool
