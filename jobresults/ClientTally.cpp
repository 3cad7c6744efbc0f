// Records summed up per client.
#include <cstdio>

#include "jobresults/JobResultsReplace.h"
#include "jobresults/JobResultsTally.h"

namespace jobresults {

bool Succeeded(const JobResults& record) { return record.ErrorString.empty(); }

std::string ClientKey(const std::string& name) {
    if (name.size() <= kLongestClientKey) return name;
    char mark[32];
    std::snprintf(mark, sizeof mark, "...#%016llx",
                  static_cast<unsigned long long>(TextChecksum(name)));
    // The mark takes the place of the last bytes, never half a character.
    std::size_t cut = kLongestClientKey - sizeof mark;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    return name.substr(0, cut) + mark;
}

void ClientSummary::Count(const JobResults& record, const RecordPlace& place) {
    const bool succeeded = Succeeded(record);
    ++(succeeded ? success : error);
    if (last < place) {
        last = place;
        lastSuccess = succeeded;
        lastSize = record.Size;
    }
}

void ClientSummary::Merge(const ClientSummary& other) {
    success += other.success;
    error += other.error;
    if (last < other.last) {
        last = other.last;
        lastSuccess = other.lastSuccess;
        lastSize = other.lastSize;
    }
}

void RecordTotals::Merge(const RecordTotals& other) {
    success += other.success;
    error += other.error;
}

void AdvanceTotals(const ClientSummaries& before, const ClientSummaries& now,
                   ClientTotals& totals) {
    const auto gain = [](std::uint64_t from, std::uint64_t to) {
        return to > from ? to - from : 0;
    };
    for (const auto& [client, counts] : now) {
        const auto earlier = before.find(client);
        const ClientSummary previous = earlier == before.end() ? ClientSummary() : earlier->second;
        const auto total =
            totals.try_emplace(client, RecordTotals{previous.success, previous.error}).first;
        total->second.success += gain(previous.success, counts.success);
        total->second.error += gain(previous.error, counts.error);
    }
}

}  // namespace jobresults
