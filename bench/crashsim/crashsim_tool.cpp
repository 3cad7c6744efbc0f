// Crash-state simulator, the library's side:
//   crashsim_tool drive SCENARIO DIR   runs a writer scenario (under the
//       recorder); after each acknowledged step it writes "N" (records
//       acknowledged so far) or "saved" to the descriptor CRASHSIM_ACK_FD.
//       Exit 3: the scenario needs what this library lacks.
//   crashsim_tool records SCENARIO     the records the scenario writes.
//   crashsim_tool judge FILE...        what the classic reader reads of each.
// Records print as "REC" and the five fields, text fields in hex.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "jobresults/cijobresults.h"

namespace {

struct Scenario {
    const char* name;
    int records;
    int groupSize;  // > 0: acknowledged by syncJobResults after each group
    bool save;
    bool large;  // records of several KB: appends cross pages
};

constexpr Scenario kScenarios[] = {
    {"create1", 1, 0, false, false},
    {"create20", 20, 0, false, false},
    {"pagecross", 6, 0, false, true},
    {"save", 5, 0, true, false},
    {"group", 12, 4, false, false},
    // For the simulator's own test: a writer that changes a record in
    // place after writing it, which the judge must catch.
    {"rewrite", 3, 0, false, false},
};

const Scenario* FindScenario(const std::string& name) {
    for (const Scenario& scenario : kScenarios) {
        if (name == scenario.name) return &scenario;
    }
    return nullptr;
}

JobResults Record(const Scenario& scenario, int index) {
    JobResults record;
    record.ClientName = "client-" + std::to_string(index);
    record.Url = "/jobs/" + std::to_string(1000 + index);
    if (scenario.large) {
        record.Url.append(2500 + static_cast<size_t>(index) * 1300,
                          static_cast<char>('a' + index % 26));
    }
    record.BackupJobId = std::to_string(1000 + index);
    record.ErrorString = index % 3 == 2 ? "failed " + std::to_string(index) : "";
    record.Size = 4096ull * static_cast<unsigned>(index + 1);
    return record;
}

std::string Hex(const std::string& text) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char byte : text) {
        const auto c = static_cast<unsigned char>(byte);
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex.empty() ? "-" : hex;
}

void PrintRecord(const JobResults& record) {
    std::printf("REC %s %s %s %s %llu\n", Hex(record.ClientName).c_str(), Hex(record.Url).c_str(),
                Hex(record.BackupJobId).c_str(), Hex(record.ErrorString).c_str(), record.Size);
}

void Acknowledge(int fd, const std::string& text) {
    const std::string line = text + "\n";
    if (fd >= 0 && write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        std::exit(2);
    }
}

int Drive(const Scenario& scenario, const std::string& dirName) {
    const char* ackVariable = std::getenv("CRASHSIM_ACK_FD");
    const int ack = ackVariable ? std::atoi(ackVariable) : -1;
    CCIJobResults writer;
    writer.createJobResults(dirName);
    for (int index = 0; index < scenario.records; ++index) {
        if (writer.addJobResult(Record(scenario, index)) != 1) {
            std::fprintf(stderr, "append %d failed: %s\n", index, writer.m_sErrorMsg.c_str());
            return 1;
        }
        if (std::strcmp(scenario.name, "rewrite") == 0 && index == 1) {
            // The first record's client becomes one that was never written.
            const char kChanged[] = "client-Z";
            if (pwrite64(writer.m_nFileHandle, kChanged, sizeof kChanged - 1, 353 + 25) !=
                static_cast<ssize_t>(sizeof kChanged - 1)) {
                return 1;
            }
        }
        if (scenario.groupSize == 0) {
            Acknowledge(ack, std::to_string(index + 1));
        } else if ((index + 1) % scenario.groupSize == 0 || index + 1 == scenario.records) {
            if (writer.syncJobResults() != 1) {
                std::fprintf(stderr, "sync failed: %s\n", writer.m_sErrorMsg.c_str());
                return 1;
            }
            Acknowledge(ack, std::to_string(index + 1));
        }
    }
    if (scenario.save) {
        if (writer.saveJobResults() != 1) return 1;
        Acknowledge(ack, "saved");
    }
    return 0;
}

// "OPEN 0|1", then the records, then "END r" with the reader's last return
// (0: the last record came as such; -1: damage or no record).
void Judge(const char* path) {
    std::string whole = path;
    const size_t slash = whole.rfind('/');
    std::string dirAndFile = slash == std::string::npos ? whole : whole.substr(slash + 1);
    const size_t backslash = dirAndFile.rfind('\\');
    std::string dirName = whole.substr(0, whole.size() - dirAndFile.size()) +
                          dirAndFile.substr(0, backslash == std::string::npos ? 0 : backslash);
    std::string fileName =
        backslash == std::string::npos ? dirAndFile : dirAndFile.substr(backslash + 1);
    std::printf("FILE %s\n", path);
    CCIJobResults reader;
    if (reader.openJobResults(dirName, fileName) != 1) {
        std::printf("OPEN 0\nEND -1\n");
        return;
    }
    std::printf("OPEN 1\n");
    int more;
    do {
        JobResults record;
        more = reader.getNextJobResult(record);
        if (more >= 0) PrintRecord(record);
    } while (more == 1);
    std::printf("END %d\n", more);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "drive" && argc == 4) {
        const Scenario* scenario = FindScenario(argv[2]);
        return scenario ? Drive(*scenario, argv[3]) : 64;
    }
    if (command == "records" && argc == 3) {
        const Scenario* scenario = FindScenario(argv[2]);
        if (!scenario) return 64;
        for (int index = 0; index < scenario->records; ++index)
            PrintRecord(Record(*scenario, index));
        return 0;
    }
    if (command == "judge") {
        for (int i = 2; i < argc; ++i) Judge(argv[i]);
        return 0;
    }
    std::fprintf(stderr,
                 "usage: crashsim_tool drive SCENARIO DIR | records SCENARIO | judge FILE...\n");
    return 64;
}
