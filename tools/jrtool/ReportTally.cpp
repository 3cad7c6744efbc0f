#include "jrtool/ReportTally.h"

#include <algorithm>
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

// Later times are newer; of equal times, the one read later.
template <typename Event>
bool Older(const Event& a, const Event& b) {
    return a.created != b.created ? a.created < b.created : a.sequence < b.sequence;
}

void KeepNewer(JobMoment& mine, const JobMoment& theirs) {
    if (mine.sequence == 0 || (theirs.sequence != 0 && Older(mine, theirs))) mine = theirs;
}

// The heap's front is the oldest failure kept.
bool NewerFailure(const FailedJob& a, const FailedJob& b) { return Older(b, a); }

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

std::size_t ReportTally::AddHost(const std::string& name) {
    for (std::size_t host = 0; host < m_hosts.size(); ++host) {
        if (m_hosts[host].name == name) return host;
    }
    m_hosts.push_back({name, {}});
    return m_hosts.size() - 1;
}

void ReportTally::Add(const JobResults& record, const RecordOrigin& origin) {
    ++m_jobs;
    auto& clients = m_hosts[origin.host].clients;
    auto found = clients.find(record.ClientName);
    if (found == clients.end()) found = clients.emplace(record.ClientName, ClientTally()).first;
    ClientTally& client = found->second;
    const bool succeeded = jobresults::Succeeded(record);
    ++client.jobs;
    JobMoment moment{m_jobs, origin.created, record.Size, ""};
    if (!succeeded) moment.error = Shortened(record.ErrorString, kErrorTextLimit);
    KeepNewer(succeeded ? client.lastSuccess : client.lastFailure, moment);
    const long long day = DayOf(origin.created);
    if (day >= m_firstDay && day <= m_lastDay) {
        DayTally& tally = client.days[day];
        ++(succeeded ? tally.succeeded : tally.failed);
        tally.bytes += record.Size;
    }
    if (!succeeded) {
        ++client.failed;
        ++m_failed;
        KeepFailure(
            {m_jobs, origin.host, record.ClientName, origin.created, moment.error, origin.file});
    }
    KeepNewer(client.last, moment);
}

void ReportTally::KeepFailure(FailedJob failure) {
    if (m_newestFailures.size() == kNewestFailures) {
        if (!NewerFailure(failure, m_newestFailures.front())) return;
        std::pop_heap(m_newestFailures.begin(), m_newestFailures.end(), NewerFailure);
        m_newestFailures.pop_back();
    }
    m_newestFailures.push_back(std::move(failure));
    std::push_heap(m_newestFailures.begin(), m_newestFailures.end(), NewerFailure);
}

std::vector<FailedJob> ReportTally::NewestFailures() const {
    std::vector<FailedJob> failures = m_newestFailures;
    std::sort(failures.begin(), failures.end(), Older<FailedJob>);
    return failures;
}

void ReportTally::AddFile(NotableFile file) {
    ++(file.damaged ? m_damagedFiles : m_openFiles);
    if (m_notableFiles.size() < kNotableFiles) m_notableFiles.push_back(std::move(file));
}

std::map<std::string, ClientTally> ReportTally::ShownClients(std::size_t host) const {
    std::map<std::string, ClientTally> shown;
    for (const auto& [name, tally] : m_hosts[host].clients) {
        shown[Utf8WithReplacement(name)].Merge(tally);
    }
    return shown;
}

}  // namespace jrtool
