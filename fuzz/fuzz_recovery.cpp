// The walk over the writer's layout that check and salvage use: arbitrary
// bytes as a job results file. Besides crashes, hangs and out-of-bounds
// reads, the target checks that the walk accounts for every byte (behind the
// header or the first byte that differs from it, records and damaged
// stretches follow one another without a gap, and the end runs to the end
// of the file), that each record holds what the readers fill from its bytes,
// and that a window of a few bytes gives the same items as the default one.
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "job_files.h"
#include "jobresults/detail/FileWindow.h"
#include "jobresults/detail/JobResultsFormat.h"
#include "jobresults/detail/LayoutWalk.h"
#include "jobresults/detail/PlainRecord.h"

namespace {

using jobresults::LayoutItem;

struct Found {
    LayoutItem item;
    JobResults record;
};

// Every item up to and including the end (or a failed read).
std::vector<Found> Walk(const std::string& path, size_t blockSize) {
    const int fd = jobresults::FileWindow::OpenToRead(path);
    FUZZ_CHECK(fd >= 0);
    std::vector<Found> found;
    {
        jobresults::FileWindow window(fd, blockSize);
        jobresults::LayoutWalk walk(window);
        for (;;) {
            Found next;
            next.item = walk.Next(next.record);
            found.push_back(next);
            if (next.item.kind != LayoutItem::Kind::kRecord &&
                next.item.kind != LayoutItem::Kind::kDamage) {
                break;
            }
        }
    }
    close(fd);
    return found;
}

// The readers' record from the bytes of a record the walk found.
JobResults ReadersRecord(std::string_view recordBytes) {
    const std::string start = "<" + std::string(jobresults::kRecordTag) + ">";
    const std::string end = "</" + std::string(jobresults::kRecordTag) + ">";
    FUZZ_CHECK(recordBytes.substr(0, start.size()) == start);
    const size_t close = recordBytes.find(end);
    FUZZ_CHECK(close != std::string_view::npos);
    JobResults record = testsupport::UntouchedRecord();
    jobresults::FillRecord(recordBytes.substr(start.size(), close - start.size()), record);
    return record;
}

void CheckItems(std::string_view bytes, const std::vector<Found>& found) {
    size_t same = 0;
    while (same < bytes.size() && same < jobresults::kHeader.size() &&
           bytes[same] == jobresults::kHeader[same]) {
        ++same;
    }
    size_t expected = same;
    for (const Found& next : found) {
        FUZZ_CHECK(next.item.kind != LayoutItem::Kind::kFailed);
        FUZZ_CHECK(next.item.offset == expected);
        if (next.item.kind == LayoutItem::Kind::kDamage) FUZZ_CHECK(next.item.length > 0);
        if (next.item.kind == LayoutItem::Kind::kRecord) {
            FUZZ_CHECK_SAME(next.record,
                            ReadersRecord(bytes.substr(next.item.offset, next.item.length)));
        }
        expected = next.item.offset + next.item.length;
    }
    FUZZ_CHECK(found.back().item.kind == LayoutItem::Kind::kEnd);
    FUZZ_CHECK(expected == bytes.size());
}

jobfiles::TempDir& Dir() {
    static jobfiles::TempDir dir;
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    jobfiles::TempDir& dir = Dir();
    FUZZ_CHECK(dir.Ok());
    const std::string path = dir.StorePath("ci_push_1.xml");
    const std::string_view bytes = fuzzinput::AsText(data, size);
    FUZZ_CHECK(jobfiles::WriteWholeFile(path, bytes));
    const std::vector<Found> found = Walk(path, jobresults::FileWindow::kDefaultBlockSize);
    CheckItems(bytes, found);
    const std::vector<Found> small = Walk(path, size == 0 ? 1 : 1 + data[0] % 13);
    FUZZ_CHECK(small.size() == found.size());
    for (size_t i = 0; i < found.size(); ++i) {
        FUZZ_CHECK(small[i].item.kind == found[i].item.kind);
        FUZZ_CHECK(small[i].item.offset == found[i].item.offset);
        FUZZ_CHECK(small[i].item.length == found[i].item.length);
        FUZZ_CHECK(small[i].item.ending == found[i].item.ending);
        if (found[i].item.kind == LayoutItem::Kind::kRecord) {
            FUZZ_CHECK_SAME(small[i].record, found[i].record);
        }
    }
    dir.Clear();
    return 0;
}
