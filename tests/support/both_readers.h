// One file read by the classic reader (openJobResults, getNextJobResult
// until it stops) and by the streaming one (JobResultsReader: open, next
// until false, ok), for the tests and the fuzz targets that compare them.
// Header only, so that the fuzz build can use it too; the checks stay with
// the caller, as gtest assertions or fuzz properties.
#ifndef CIJOBRESULTS_TESTS_SUPPORT_BOTH_READERS_H
#define CIJOBRESULTS_TESTS_SUPPORT_BOTH_READERS_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jobresults/JobResultsReader.h"
#include "jobresults/cijobresults.h"
#include "jobresults/detail/JobResultsFormat.h"
#include "reference.h"
#include "scratch.h"

namespace testsupport {

// What a reader delivered and how it ended. Every record starts as
// UntouchedRecord(), so fields a file lacks show alike for both readers.
struct ReaderOutcome {
    bool opened = false;
    std::vector<JobResults> records;
    bool ok = false;
    std::string message;  // when not ok
    int errorNumber = 0;  // when not ok
    // The streaming reader's alone:
    std::vector<std::uint64_t> ends;  // validBytes() after each record
    // resumePoint() after open and after each record
    std::vector<jobresults::ResumePoint> points;
    std::uint64_t validBytes = 0;  // at the end
    jobresults::FileCheck check;   // check() at the end
    bool nextAfterEnd = false;     // what one more next() gave
};

inline ReaderOutcome ReadClassic(const std::string& dir, const std::string& name) {
    ReaderOutcome outcome;
    CCIJobResults reader;
    outcome.opened = reader.openJobResults(dir, name) == 1;
    for (int result = outcome.opened ? 1 : -1; result == 1;) {
        JobResults record = UntouchedRecord();
        result = reader.getNextJobResult(record);
        if (result >= 0) outcome.records.push_back(record);
        outcome.ok = result == 0;
    }
    if (!outcome.ok) {
        outcome.message = reader.m_sErrorMsg;
        outcome.errorNumber = reader.m_nErrno;
    }
    return outcome;
}

inline ReaderOutcome ReadStreaming(const std::string& dir, const std::string& name,
                                   bool strict = false) {
    ReaderOutcome outcome;
    JobResultsReader reader;
    reader.setStrict(strict);
    outcome.opened = reader.open(dir, name);
    if (outcome.opened) outcome.points.push_back(reader.resumePoint());
    JobResults record = UntouchedRecord();
    while (outcome.opened && reader.next(record)) {
        outcome.records.push_back(record);
        outcome.ends.push_back(reader.validBytes());
        outcome.points.push_back(reader.resumePoint());
        record = UntouchedRecord();
    }
    outcome.nextAfterEnd = reader.next(record);
    outcome.validBytes = reader.validBytes();
    outcome.ok = reader.ok();
    outcome.check = reader.check();
    if (!outcome.ok) {
        outcome.message = reader.errorMessage();
        outcome.errorNumber = reader.errorNumber();
    }
    return outcome;
}

struct BothReaders {
    ReaderOutcome classic;
    ReaderOutcome streaming;
    // The records the streaming reader must deliver: the classic reader's;
    // or, where the classic reader refuses the whole file, those the classic
    // reader finds in the bytes before validBytes() closed with Root's end
    // tag. Should that prefix file fail to be written, none.
    std::vector<JobResults> expectedRecords;
};

// Reads dir\name, whose bytes are `bytes`, with both readers; the prefix
// for expectedRecords goes to dir\prefixName.
inline BothReaders ReadWithBoth(const std::string& dir, const std::string& name,
                                std::string_view bytes, const std::string& prefixName) {
    BothReaders both{ReadClassic(dir, name), ReadStreaming(dir, name), {}};
    if (both.classic.opened || both.streaming.records.empty()) {
        both.expectedRecords = both.classic.records;
        return both;
    }
    std::string prefix(bytes.substr(0, both.streaming.ends.back()));
    prefix += jobresults::kTrailer;
    const std::string prefixPath = dir + jobresults::kDirectorySeparator + prefixName;
    if (WriteWholeFile(prefixPath, prefix)) {
        both.expectedRecords = ReadClassic(dir, prefixName).records;
    }
    return both;
}

}  // namespace testsupport

#endif  // CIJOBRESULTS_TESTS_SUPPORT_BOTH_READERS_H
