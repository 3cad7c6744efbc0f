// Coming back to files across runs: a rotation of verifications that keeps
// within the budget and reaches every file within a cycle, whatever the
// sizes; and reading on from a progress through appends, rewrites and
// damage.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <tuple>
#include <vector>

#include "jobresults/JobResultsProgress.h"
#include "support/repeat.h"
#include "support/store_files.h"

namespace jobresults {
namespace {

// Next-fit over a rotation: two runs in a row take more than the budget, so
// a file comes again within 2 * total / budget + 2 runs.
TEST(VerifyBudget, EveryFileComesInTurnWithinACycle) {
    testsupport::SeededRandom random;
    SCOPED_TRACE(random.Note());
    EXPECT_TRUE(PickForVerification({{0, 1, 0}}, 0).empty());
    for (int round = 0; round < 300; ++round) {
        std::vector<VerifyCandidate> files(1 + random() % 20);
        const std::uint64_t budget = 1 + random() % 5000;
        std::uint64_t total = 0;
        for (std::size_t i = 0; i < files.size(); ++i) {
            files[i] = {static_cast<std::int64_t>(random() % 3), 1 + random() % 3000, i};
            total += files[i].size;
        }
        const std::uint64_t cycle = 2 * total / budget + 2;
        std::vector<std::uint64_t> lastRun(files.size(), 0);
        for (std::uint64_t run = 1; run <= 3 * cycle; ++run) {
            const std::vector<std::size_t> picked = PickForVerification(files, budget);
            std::uint64_t spent = 0;
            for (const std::size_t i : picked) {
                spent += files[i].size;
                files[i].verifiedNanoseconds = static_cast<std::int64_t>(10 + run);
                lastRun[i] = run;
            }
            ASSERT_FALSE(picked.empty());
            ASSERT_TRUE(spent <= budget || picked.size() == 1) << "run " << run;
            for (const std::uint64_t last : lastRun) ASSERT_LE(run - last, cycle) << "run " << run;
        }
    }
}

// The directory name's only file, as listed now.
ResultsFile Listed(const std::string& dirName) {
    std::vector<ResultsFile> files;
    EXPECT_EQ(ListResultsFiles(dirName, files), 0);
    EXPECT_EQ(files.size(), 1u);
    return files.empty() ? ResultsFile() : files[0];
}

struct Reading {
    ProgressOutcome outcome;
    std::vector<std::uint64_t> offsets;
};

// Read on with ReadOn, and compared with the pull form from the same
// progress: records, outcome and progress must be the same.
Reading Read(const std::string& dirName, FileChange change, FileProgress& progress) {
    const ResultsFile file = Listed(dirName);
    ProgressReading pulled(file, change, progress);
    Reading reading;
    reading.outcome = ReadOn(file, change, progress, [&](const JobResults&, std::uint64_t offset) {
        reading.offsets.push_back(offset);
    });
    JobResults record;
    std::vector<std::uint64_t> offsets;
    for (std::uint64_t offset = 0; pulled.Next(record, offset);) offsets.push_back(offset);
    const ProgressOutcome& outcome = pulled.Outcome();
    EXPECT_TRUE(pulled.Over());
    EXPECT_EQ(offsets, reading.offsets);
    EXPECT_EQ(ProgressFields(pulled.Progress(), true), ProgressFields(progress, true));
    EXPECT_EQ(std::tie(outcome.records, outcome.replaced, outcome.problem, outcome.check.damage,
                       outcome.check.damageOffset, outcome.check.ending),
              std::tie(reading.outcome.records, reading.outcome.replaced, reading.outcome.problem,
                       reading.outcome.check.damage, reading.outcome.check.damageOffset,
                       reading.outcome.check.ending));
    return reading;
}

// Three records read in two runs, then the file changed behind the point:
// in place (same identity, other bytes) or by bytes no writer leaves.
// Kept as text and read back, a progress is the same, with or without the
// times; a field missing, added or garbled is refused.
TEST(ProgressText, RandomProgressSurvivesItsFieldsAndDamageIsRefused) {
    testsupport::SeededRandom random;
    SCOPED_TRACE(random.Note());
    for (int round = 0; round < 500; ++round) {
        FileProgress p;
        p.identity = {random(), random(), static_cast<std::int64_t>(random() >> 1)};
        p.size = random();
        p.modifiedNanoseconds = static_cast<std::int64_t>(random() >> 1);
        p.point = {random(), random(), random()};
        p.firstRecord = random();
        p.state = static_cast<FileState>(random() % 3);
        p.statusChangeNanoseconds = static_cast<std::int64_t>(random() % 2 ? random() >> 1 : 0);
        p.verifiedNanoseconds = static_cast<std::int64_t>(random() >> 1);
        const bool times = random() % 2 == 0;
        std::vector<std::string> fields = ProgressFields(p, times);
        fields.insert(fields.begin(), "name");
        FileProgress back;
        ASSERT_TRUE(ProgressFromFields(fields, 1, times, back));
        EXPECT_EQ(ProgressFields(back, times), ProgressFields(p, times));
        std::vector<std::string> damaged = fields;
        damaged[1 + random() % (fields.size() - 1)] += "x";
        EXPECT_FALSE(ProgressFromFields(damaged, 1, times, back));
        damaged = fields;
        damaged.resize(fields.size() - 1);
        EXPECT_FALSE(ProgressFromFields(damaged, 1, times, back));
    }
}

// Stopped behind each record in turn, a reading's place in the middle of
// the file reads on to exactly the records behind it, and those appended
// since.
TEST(StoreProgress, PlaceInTheMiddleReadsOnBehindTheLastRecordHandedOut) {
    storetest::ScratchDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string dirName = dir.Path() + "/leaf";
    CCIJobResults writer;
    ASSERT_EQ(writer.createJobResults(dirName), 1);
    for (const char* id : {"1", "2", "3", "4", "5"})
        ASSERT_EQ(writer.addJobResult({"client", "u", id, "", 5}), 1);
    for (std::ptrdiff_t stop = 1; stop <= 5; ++stop) {
        ProgressReading reading(Listed(dirName), FileChange::kGrew, FileProgress());
        JobResults record;
        std::uint64_t offset = 0;
        for (std::ptrdiff_t i = 0; i < stop; ++i) ASSERT_TRUE(reading.Next(record, offset));
        FileProgress place = reading.ProgressSoFar();
        ASSERT_EQ(writer.addJobResult({"later", "u", "6", "", 5}), 1);
        FileProgress whole;
        const std::vector<std::uint64_t> all = Read(dirName, FileChange::kGrew, whole).offsets;
        EXPECT_FALSE(UnchangedSince(place, Listed(dirName)));
        EXPECT_EQ(Read(dirName, FileChange::kGrew, place).offsets,
                  std::vector<std::uint64_t>(all.begin() + stop, all.end()))
            << "stopped behind record " << stop;
    }
}

TEST(StoreProgress, ReadsOnlyWhatTheFileGainedAndTellsChangeFromGrowth) {
    enum class Later { kRewritten, kDamaged };
    for (const Later later : {Later::kRewritten, Later::kDamaged}) {
        storetest::ScratchDir dir;
        ASSERT_TRUE(dir.Ok());
        const std::string dirName = dir.Path() + "/leaf";
        CCIJobResults writer;
        ASSERT_EQ(writer.createJobResults(dirName), 1);
        ASSERT_EQ(writer.addJobResult({"client-a", "u", "1", "", 5}), 1);
        ASSERT_EQ(writer.addJobResult({"client-a", "u", "2", "", 6}), 1);
        FileProgress progress;
        const std::string path = Listed(dirName).path;
        EXPECT_EQ(ChangeSince(progress, Listed(dirName), StatusChangeNanoseconds(path)),
                  FileChange::kChanged);
        const Reading first = Read(dirName, FileChange::kChanged, progress);
        ASSERT_EQ(first.offsets.size(), 2u);
        EXPECT_EQ(progress.state, FileState::kOpen);
        progress.statusChangeNanoseconds = StatusChangeNanoseconds(path);
        EXPECT_EQ(ChangeSince(progress, Listed(dirName), StatusChangeNanoseconds(path)),
                  FileChange::kUnchanged);
        // A verification of the unchanged file finds nothing new.
        EXPECT_TRUE(Read(dirName, FileChange::kUnchanged, progress).offsets.empty());

        ASSERT_EQ(writer.addJobResult({"client-a", "u", "3", "", 7}), 1);
        EXPECT_EQ(ChangeSince(progress, Listed(dirName), StatusChangeNanoseconds(path)),
                  FileChange::kGrew);
        const Reading grown = Read(dirName, FileChange::kGrew, progress);
        ASSERT_EQ(grown.offsets.size(), 1u);
        EXPECT_GT(grown.offsets[0], first.offsets[1]);
        EXPECT_FALSE(grown.outcome.replaced);

        std::string bytes = storetest::ReadWholeFile(path);
        if (later == Later::kRewritten) bytes.replace(bytes.find("client-a"), 8, "client-b");
        if (later == Later::kDamaged) bytes += "<x/>";
        const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
        close(fd);
        const FileProgress before = progress;
        const Reading whole = Read(dirName, FileChange::kChanged, progress);
        EXPECT_TRUE(whole.offsets.empty());
        if (later == Later::kRewritten) {
            EXPECT_TRUE(whole.outcome.replaced);
            EXPECT_EQ(progress.point.fingerprint, before.point.fingerprint);
            // Read on, a rewritten file is read again from its start.
            const Reading again = Read(dirName, FileChange::kGrew, progress);
            EXPECT_TRUE(again.outcome.replaced);
            EXPECT_EQ(again.offsets.size(), 3u);
        } else {
            EXPECT_EQ(whole.outcome.problem, ProgressProblem::kDamaged);
            EXPECT_EQ(whole.outcome.check.damageOffset, CheckResultsFile(path).damageOffset);
            EXPECT_EQ(progress.state, FileState::kDamaged);
            // Damage seen is not read again until the file changes.
            progress.statusChangeNanoseconds = StatusChangeNanoseconds(path);
            EXPECT_EQ(ChangeSince(progress, Listed(dirName), StatusChangeNanoseconds(path)),
                      FileChange::kUnchanged);
        }
    }
}

}  // namespace
}  // namespace jobresults
