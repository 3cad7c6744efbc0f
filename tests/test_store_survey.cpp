// Surveys of damage a disk or an editor leaves in a writer's file: every
// one-byte change over a small file, and random two- and three-byte changes
// over a larger one. On each copy the strict reader (what the tool and
// Python read with) gives the check's verdict, and a file that check
// passes reads alike in the classic readers. Where check passes with
// records other than those written, the copy is byte for byte a file the
// writer makes of the records read: a change a writer could have made (a
// digit for a digit, one byte of a free-text value for another), which no
// format without checksums can see. Those are counted apart, and printed.
#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include "jobresults/JobResultsCheck.h"
#include "support/both_readers.h"
#include "support/damage.h"
#include "support/repeat.h"

namespace {

using namespace damagestudy;

// Where the values of the fields lie in a writer's file: from behind each
// field's start tag to its end tag.
std::vector<Span> ValueSpans(const std::string& sound) {
    std::vector<Span> spans;
    for (const std::string name : {"ClientName", "Url", "BackupJobId", "ErrorString", "Size"}) {
        const std::string open = "<" + name + ">";
        for (size_t at = sound.find(open); at != std::string::npos; at = sound.find(open, at + 1)) {
            const size_t begin = at + open.size();
            spans.push_back({begin, sound.find("</" + name + ">", begin) - begin});
        }
    }
    return spans;
}

bool OnlyValuesChanged(const std::string& sound, const std::string& copy,
                       const std::vector<Span>& values) {
    for (size_t at = 0; at < sound.size(); ++at) {
        if (sound[at] != copy[at] && !Touched(Span{at, 1}, values)) return false;
    }
    return true;
}

struct Tally {
    size_t copies = 0;
    size_t damaged = 0;
    size_t writerCouldHaveMade = 0;
};

// Judges one damaged copy, written to dir\name.
void Judge(const std::string& dir, const std::string& name, const std::string& bytes,
           const std::string& sound, const std::vector<JobResults>& written, Tally& tally) {
    ASSERT_TRUE(testsupport::WriteWholeFile(dir + "\\" + name, bytes));
    const jobresults::FileCheck check = jobresults::CheckResultsFile(dir + "\\" + name);
    const testsupport::ReaderOutcome strict = testsupport::ReadStreaming(dir, name, true);
    ++tally.copies;
    ASSERT_EQ(strict.ok, check.sound());
    if (!check.sound()) {
        ++tally.damaged;
        ASSERT_EQ(strict.check.damageOffset, check.damageOffset);
        return;
    }
    const testsupport::ReaderOutcome classic = testsupport::ReadClassic(dir, name);
    ASSERT_TRUE(classic.ok);
    ASSERT_EQ(classic.records.size(), strict.records.size());
    bool same = strict.records.size() == written.size();
    for (size_t i = 0; i < strict.records.size(); ++i) {
        ASSERT_TRUE(SameRecord(classic.records[i], strict.records[i])) << "record " << i;
        same = same && SameRecord(strict.records[i], written[i]);
    }
    if (same) return;
    ASSERT_TRUE(OnlyValuesChanged(sound, bytes, ValueSpans(sound))) << "a change check passes";
    ++tally.writerCouldHaveMade;
}

void Print(const char* survey, const Tally& tally) {
    std::cout << survey << ": " << tally.copies << " copies, " << tally.damaged
              << " found damaged, " << tally.writerCouldHaveMade
              << " a writer could have written\n";
}

std::vector<JobResults> Records(size_t count) {
    std::vector<JobResults> records;
    for (size_t i = 0; i < count; ++i) records.push_back(MixedRecord(i));
    return records;
}

TEST(DamageSurvey, EveryOneByteChangeOfASmallFile) {
    testsupport::ScratchDir scratch;
    const std::vector<JobResults> written = Records(3);
    const std::string sound = WrittenBytes(scratch.Path() + "/sound", written);
    ASSERT_FALSE(sound.empty());
    Tally tally;
    for (size_t at = 0; at < sound.size(); ++at) {
        const char was = sound[at];
        for (const char to :
             {'\0', '<', '>', '/', '\n', ' ', 'a', '5', char(was ^ 1), char(was ^ 32)}) {
            if (to == was) continue;
            std::string copy = sound;
            copy[at] = to;
            SCOPED_TRACE("byte " + std::to_string(at) + " set to " + std::to_string(int(to)));
            ASSERT_NO_FATAL_FAILURE(
                Judge(scratch.Path() + "/d", "f.xml", copy, sound, written, tally));
        }
    }
    Print("one-byte sweep", tally);
}

TEST(DamageSurvey, RandomTwoAndThreeByteChangesOfALargerFile) {
    testsupport::ScratchDir scratch;
    const std::vector<JobResults> written = Records(300);
    const std::string sound = WrittenBytes(scratch.Path() + "/sound", written);
    ASSERT_FALSE(sound.empty());
    testsupport::SeededRandom random;
    SCOPED_TRACE(random.Note());
    for (const size_t changes : {size_t{2}, size_t{3}}) {
        Tally tally;
        for (int copyIndex = 0; copyIndex < 300; ++copyIndex) {
            std::string copy = sound;
            for (size_t i = 0; i < changes; ++i) {
                copy[Below(random, copy.size())] = static_cast<char>(Below(random, 256));
            }
            ASSERT_NO_FATAL_FAILURE(
                Judge(scratch.Path() + "/d", "f.xml", copy, sound, written, tally));
        }
        Print(changes == 2 ? "two-byte changes" : "three-byte changes", tally);
    }
}

}  // namespace
