// The reader cuts a file while reading it through a window of a few blocks.
// Whatever the block size and however the bytes arrive, the result must be
// what the whole text in one piece gives: every element that straddles a
// block edge, every end tag cut in two, every "</Root>" split across reads.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "jobresults/cijobresults.h"
#include "jobresults/detail/FileWindow.h"
#include "jobresults/detail/JobResultsLayout.h"
#include "jobresults/detail/RootCursor.h"
#include "support/describe.h"
#include "support/reference.h"
#include "support/store_files.h"
#include "xml/XmlNode.h"

namespace {

using jobresults::FileWindow;
using storetest::ScratchDir;

struct Cut {
    int result = 0;
    std::vector<XmlNode> children;
    bool damaged = false;  // the reference's alone: Root's content is damaged
};

Cut CutDescriptor(int fd, size_t blockSize) {
    Cut cut;
    FileWindow window(fd, blockSize);
    cut.result = jobresults::ReadRootChildren(window, cut.children);
    return cut;
}

Cut CutFile(const std::string& path, size_t blockSize) {
    const int fd = open(path.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0) << path;
    Cut cut = CutDescriptor(fd, blockSize);
    close(fd);
    return cut;
}

// The text cut level by level with the flat scanner.
Cut Reference(const std::string& text) {
    Cut cut;
    if (!testsupport::ReferenceRootChildren(text, storetest::Golden().names, cut.children,
                                            &jobresults::IsTornEndAt, &cut.damaged)) {
        cut.result = jobresults::kInvalidContent;
    }
    return cut;
}

void ExpectSameCut(const Cut& actual, const Cut& expected, const std::string& what) {
    ASSERT_EQ(actual.result, expected.result) << what;
    ASSERT_EQ(testsupport::Describe(actual.children), testsupport::Describe(expected.children))
        << what;
}

const size_t kBlockSizes[] = {1, 2, 3, 5, 8, 13, 64, FileWindow::kDefaultBlockSize};

// Markup that is dense in the places where a window edge can fall badly:
// the stop tag in pieces, end tags with names holding "<", comments
// holding ">", elements whose end tag never comes.
const std::vector<std::string> kPieces = {
    "<Root>",
    "</Root>",
    "</Ro",
    "ot>",
    "<JobResult>",
    "</JobResult>",
    "<JobResult a=\"<\">",
    "<a<Root>",
    "</a</Root>",
    "<Size>",
    "</Size>",
    "<x/>",
    "<!-- > -->",
    "<?p?>",
    "<",
    ">",
    "/",
    " ",
    "\n",
    "text",
    "<Url>",
    "</Url>",
    "<Root/>",
    "<JobResult/>",
    "</",
};

std::string RandomText(std::mt19937& random) {
    std::string text =
        "<?xml version=\"1.0\"?>\n<Root>" + testsupport::RandomPieces(random, kPieces, 59);
    if (random() % 2 == 0) text += "</Root>";
    return text;
}

// A file as the writer writes it, with values long enough to span several
// blocks and one value far larger than any block.
std::string WriterLikeText(int records) {
    ScratchDir dir;
    {
        CCIJobResults writer;
        writer.createJobResults(dir.Path() + "/jr");
        for (int i = 0; i < records; ++i) {
            JobResults record = storetest::SampleRecord(i);
            record.Url = i == records / 2 ? std::string(300000, 'v')
                                          : std::string(static_cast<size_t>(i % 97), 'u');
            writer.addJobResult(record);
        }
    }
    return storetest::ReadWholeFile(storetest::CreatedFile(dir, "jr"));
}

// The streaming walk: one record per step, each filled as the classic
// reader fills the record from that child, then the same verdict.
void ExpectSameRecords(const std::string& path, size_t blockSize, const Cut& expected,
                       const std::string& what) {
    const int fd = open(path.c_str(), O_RDONLY);
    FileWindow window(fd, blockSize);
    jobresults::RootCursor cursor(window);
    jobresults::RootCursor::Step step;
    const testsupport::ReferenceWalk walk =
        testsupport::ReferenceRecords(expected.children, storetest::Golden().names, JobResults());
    size_t delivered = 0;
    for (JobResults record;
         (step = cursor.NextRecord(record)) == jobresults::RootCursor::Step::kChild;
         record = JobResults()) {
        if (expected.result != 0) continue;  // records in front of damage: compared elsewhere
        ASSERT_LT(delivered, walk.records.size()) << what;
        ASSERT_TRUE(storetest::SameRecord(record, walk.records[delivered]))
            << what << " record " << delivered;
        ++delivered;
    }
    const auto verdict = expected.result != 0            ? jobresults::RootCursor::Step::kInvalid
                         : walk.torn || expected.damaged ? jobresults::RootCursor::Step::kDamaged
                                                         : jobresults::RootCursor::Step::kEnd;
    close(fd);
    ASSERT_EQ(step, verdict) << what;
}

TEST(StoreWindow, EveryBlockSizeCutsRandomMarkupAsTheScannerDoes) {
    ScratchDir dir;
    const std::string path = dir.Path() + "/f.xml";
    testsupport::SeededRandom random;
    SCOPED_TRACE(random.Note());
    for (int round = 0; round < storetest::Repetitions(1500, 150); ++round) {
        const std::string text = RandomText(random);
        storetest::WriteWholeFile(path, text);
        const Cut expected = Reference(text);
        const std::string printable = testsupport::Printable(text);
        for (const size_t block : kBlockSizes) {
            const std::string what = "block " + std::to_string(block) + " text " + printable;
            ExpectSameCut(CutFile(path, block), expected, what);
            ExpectSameRecords(path, block, expected, what);
            if (HasFatalFailure()) return;
        }
    }
}

TEST(StoreWindow, ElementsLargerThanTheBlockAndEveryEdgeOffset) {
    ScratchDir dir;
    const std::string path = dir.Path() + "/f.xml";
    const std::string records = WriterLikeText(40);
    const Cut expected = Reference(records);
    ASSERT_EQ(expected.result, 0);
    ASSERT_EQ(expected.children.size(), 40u);
    storetest::WriteWholeFile(path, records);
    for (const size_t block : {size_t{7}, size_t{4096}, size_t{65536}}) {
        ExpectSameCut(CutFile(path, block), expected, "block " + std::to_string(block));
        ExpectSameRecords(path, block, expected, "records, block " + std::to_string(block));
    }
    // Blanks in front move the first block edge across every byte of a record.
    const std::string small = "<Root><JobResult><Size>1</Size></JobResult></Root>";
    for (size_t shift = 0; shift < 80; ++shift) {
        const std::string text = std::string(shift, ' ') + small;
        storetest::WriteWholeFile(path, text);
        ExpectSameCut(CutFile(path, 32), Reference(text), "shift " + std::to_string(shift));
    }
}

// Through a pipe, reads return whatever has arrived: short, uneven pieces.
TEST(StoreWindow, ShortReadsFromAPipe) {
    const std::string text = WriterLikeText(25);
    signal(SIGPIPE, SIG_IGN);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    testsupport::SeededRandom random;
    SCOPED_TRACE(random.Note());
    std::thread writer([&text, &random, out = ends[1]] {
        for (size_t done = 0; done < text.size();) {
            const size_t piece = std::min<size_t>(1 + random() % 5000, text.size() - done);
            const ssize_t count = write(out, text.data() + done, piece);
            if (count <= 0) break;
            done += static_cast<size_t>(count);
        }
        close(out);
    });
    const Cut cut = CutDescriptor(ends[0], 4096);
    // A reader that stopped early must not leave the writer blocked.
    close(ends[0]);
    writer.join();
    ExpectSameCut(cut, Reference(text), "pipe");
}

TEST(StoreWindow, ReadErrorIsReportedWithItsErrno) {
    ScratchDir dir;
    const int fd = open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    const Cut cut = CutDescriptor(fd, 16);
    close(fd);
    EXPECT_EQ(cut.result, EISDIR);
    EXPECT_TRUE(cut.children.empty());
}

// A writer may rewrite the last bytes of a file while they are read: the
// window compares what it holds with the file and reads it again on a
// difference, from the same offset. (A pipe, which cannot be read twice,
// counts as unchanged: ShortReadsFromAPipe reaches a verdict through one.)
TEST(StoreWindow, RecheckReadsAChangedFileAgain) {
    ScratchDir dir;
    const std::string path = dir.Path() + "/f.xml";
    const std::string before = "<Root></Root>";
    const struct {
        std::string now;
        bool toTheEnd;  // whether bytes behind the text held count as a change
        bool changed;
    } cases[] = {
        {before, true, false},        {"<Root><a/></Root>", true, true},
        {before + "\n", true, true},  {before + "\n", false, false},
        {"<Root></Roo", false, true}, {"<Root></Boot>", false, true},
    };
    for (const auto& c : cases) {
        storetest::WriteWholeFile(path, before);
        const int fd = open(path.c_str(), O_RDONLY);
        FileWindow window(fd, 4);
        ASSERT_EQ(window.ReadToEnd(0), 0);
        window.Advance(6);  // holds "</Root>", behind the dropped start tag
        const int out = open(path.c_str(), O_WRONLY | O_TRUNC);  // the same file, rewritten
        ASSERT_EQ(write(out, c.now.data(), c.now.size()), static_cast<ssize_t>(c.now.size()));
        close(out);
        bool changed = !c.changed;
        EXPECT_EQ(window.Recheck(c.toTheEnd, changed), 0);
        EXPECT_EQ(changed, c.changed) << c.now;
        EXPECT_EQ(window.Text(), c.changed ? c.now.substr(6) : "</Root>") << c.now;
        EXPECT_TRUE(window.AtEnd());
        close(fd);
    }
}

}  // namespace
