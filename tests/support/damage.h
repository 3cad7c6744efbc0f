// Damage as disks and lost writes leave it, applied to a copy of a job
// results file at a random place, with the byte ranges it wrote over; and
// the judgement of a rescue: every record the damage did not touch came
// back, in order, and nothing else did. Header only, for the damage survey
// and for the recovery test.
#ifndef CIJOBRESULTS_BENCH_DAMAGE_H
#define CIJOBRESULTS_BENCH_DAMAGE_H

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jobresults/JobResultsRecovery.h"
#include "jobresults/cijobresults.h"
#include "jobresults/detail/JobResultsFormat.h"
#include "support/scratch.h"

namespace damagestudy {

inline constexpr size_t kPageSize = 4096;

enum class DamageKind {
    kZeroPage,
    kRandomPage,
    kEarlierState,  // a page as it was before later appends
    kCutAtPage,
    kTwoPages,
    kZeroInRecord,
    kFlippedTagByte,
};

inline constexpr DamageKind kDamageKinds[] = {DamageKind::kZeroPage,      DamageKind::kRandomPage,
                                              DamageKind::kEarlierState,  DamageKind::kCutAtPage,
                                              DamageKind::kTwoPages,      DamageKind::kZeroInRecord,
                                              DamageKind::kFlippedTagByte};

inline const char* DamageName(DamageKind kind) {
    const char* const names[] = {
        "zeroed page",     "random page",       "earlier state of a page",
        "cut at a page",   "two damaged pages", "zeroed stretch in a record",
        "flipped tag byte"};
    return names[static_cast<int>(kind)];
}

struct Span {
    size_t offset;
    size_t length;
    size_t End() const { return offset + length; }
};

struct Damaged {
    std::string bytes;
    std::vector<Span> touched;  // ranges of the sound file written over or lost
};

// Record i of a damage study: values of mixed lengths, some empty, some
// holding "<", "&", a NUL byte or a line break, every 40th longer than a
// page (the writer splits such appends). No value begins or ends in a
// blank, so that the records read back, written again, give the same bytes.
inline JobResults MixedRecord(size_t i) {
    using namespace std::string_literals;
    const std::string n = std::to_string(i);
    const std::string pieces[] = {"a<b", "x & y", "ctl\x01byte", "two\nlines", "plain"};
    JobResults record;
    record.ClientName = "host-" + n + "." + pieces[i % 5];
    record.Url = i % 4 == 0 ? "" : "https://h/" + std::string(i % 97, 'p') + "/" + n;
    record.BackupJobId = i % 40 == 7 ? std::string(5000 + i % 13, 'j') + n : n;
    record.ErrorString = i % 3 == 0 ? "" : "error " + pieces[(i / 3) % 5] + " " + n;
    record.Size = i % 11 == 0 ? 0 : 1234567ull * i;
    return record;
}

inline size_t Below(std::mt19937& random, size_t bound) {
    return std::uniform_int_distribution<size_t>(0, bound - 1)(random);
}

// Overwrites a page of damaged.bytes with zeros (or random bytes).
inline void DamagePage(Damaged& damaged, size_t page, bool randomBytes, std::mt19937& random) {
    const size_t begin = page * kPageSize;
    const size_t end = std::min(begin + kPageSize, damaged.bytes.size());
    for (size_t i = begin; i < end; ++i) {
        damaged.bytes[i] = randomBytes ? static_cast<char>(random()) : '\0';
    }
    damaged.touched.push_back({begin, end - begin});
}

// The offsets of the bytes of the format's own tags in text.
inline std::vector<size_t> TagBytes(std::string_view text) {
    const std::string_view names[] = {jobresults::kRecordTag,      jobresults::kClientNameTag,
                                      jobresults::kUrlTag,         jobresults::kBackupJobIdTag,
                                      jobresults::kErrorStringTag, jobresults::kSizeTag};
    std::vector<size_t> bytes;
    for (size_t lt = text.find('<'); lt != std::string_view::npos; lt = text.find('<', lt + 1)) {
        const size_t nameAt = lt + (text.substr(lt + 1, 1) == "/" ? 2 : 1);
        for (const std::string_view name : names) {
            if (text.substr(nameAt, name.size()) != name) continue;
            const size_t close = nameAt + name.size();
            const size_t length = text.substr(close, 1) == ">"     ? close + 1 - lt
                                  : text.substr(close, 3) == " />" ? close + 3 - lt
                                                                   : 0;
            for (size_t i = 0; i < length; ++i) bytes.push_back(lt + i);
        }
    }
    return bytes;
}

// A copy of sound, whose records stand at records, damaged by kind at a
// random place.
inline Damaged Damage(const std::string& sound, const std::vector<Span>& records, DamageKind kind,
                      std::mt19937& random) {
    Damaged damaged{sound, {}};
    const size_t pages = (sound.size() + kPageSize - 1) / kPageSize;
    const Span& record = records[Below(random, records.size())];
    switch (kind) {
        case DamageKind::kZeroPage:
        case DamageKind::kRandomPage:
            DamagePage(damaged, Below(random, pages), kind == DamageKind::kRandomPage, random);
            break;
        case DamageKind::kEarlierState: {
            // The page as the file held it when record ended it: its old
            // trailer, then nothing yet.
            const size_t trailer = record.End();
            const size_t end = std::min((trailer / kPageSize + 1) * kPageSize, sound.size());
            const std::string old =
                std::string(jobresults::kTrailer) + std::string(end - trailer, '\0');
            damaged.bytes.replace(trailer, end - trailer, old, 0, end - trailer);
            damaged.touched.push_back({trailer, end - trailer});
            break;
        }
        case DamageKind::kCutAtPage: {
            const size_t cut = (1 + Below(random, pages - 1)) * kPageSize;
            damaged.bytes.resize(cut);
            damaged.touched.push_back({cut, sound.size() - cut});
            break;
        }
        case DamageKind::kTwoPages: {
            const size_t first = Below(random, pages);
            const size_t second = (first + 1 + Below(random, pages - 1)) % pages;
            DamagePage(damaged, first, random() % 2 == 0, random);
            DamagePage(damaged, second, random() % 2 == 0, random);
            break;
        }
        case DamageKind::kZeroInRecord: {
            const size_t length = 1 + Below(random, std::min<size_t>(64, record.length - 2));
            const size_t begin = record.offset + 1 + Below(random, record.length - 1 - length);
            damaged.bytes.replace(begin, length, length, '\0');
            damaged.touched.push_back({begin, length});
            break;
        }
        case DamageKind::kFlippedTagByte: {
            const std::vector<size_t> tags =
                TagBytes(std::string_view(sound).substr(record.offset, record.length));
            const size_t at = record.offset + tags[Below(random, tags.size())];
            damaged.bytes[at] = static_cast<char>(damaged.bytes[at] ^ (1 << Below(random, 8)));
            damaged.touched.push_back({at, 1});
            break;
        }
    }
    return damaged;
}

inline bool Touched(const Span& record, const std::vector<Span>& touched) {
    for (const Span& range : touched) {
        if (range.offset < record.End() && record.offset < range.End()) return true;
    }
    return false;
}

inline bool SameRecord(const JobResults& a, const JobResults& b) {
    return a.ClientName == b.ClientName && a.Url == b.Url && a.BackupJobId == b.BackupJobId &&
           a.ErrorString == b.ErrorString && a.Size == b.Size;
}

struct RescueJudgement {
    size_t intact = 0;              // records the damage did not touch
    size_t recovered = 0;           // of those, how many came back
    size_t garbled = 0;             // records that came back but are none of the originals in order
    std::vector<size_t> garbledAt;  // their positions among the rescued records
};

// Matches the rescued records against the originals in order: each rescued
// record must be the next original not yet passed, or it is garbled.
inline RescueJudgement Judge(const std::vector<JobResults>& originals,
                             const std::vector<Span>& spans, const std::vector<Span>& touched,
                             const std::vector<JobResults>& rescued) {
    RescueJudgement judgement;
    std::vector<bool> back(originals.size(), false);
    size_t next = 0;
    for (size_t i = 0; i < rescued.size(); ++i) {
        size_t at = next;
        while (at < originals.size() && !SameRecord(originals[at], rescued[i])) ++at;
        if (at == originals.size()) {
            ++judgement.garbled;
            judgement.garbledAt.push_back(i);
            continue;
        }
        back[at] = true;
        next = at + 1;
    }
    for (size_t i = 0; i < originals.size(); ++i) {
        if (Touched(spans[i], touched)) continue;
        ++judgement.intact;
        if (back[i]) ++judgement.recovered;
    }
    return judgement;
}

// What the walk over the writer's layout finds in a file.
struct Walked {
    std::vector<JobResults> records;
    std::vector<Span> spans;
    size_t stretches = 0;
    size_t stretchBytes = 0;
    JobResultsRecovery::Found last = JobResultsRecovery::Found::kReadFailed;
    JobResultsRecovery::Ending ending = JobResultsRecovery::Ending::kCut;
    size_t endOffset = 0;
    // Whether the walk saw damage: a stretch, a cut end or a failed read.
    bool Damaged() const {
        return stretches > 0 || last != JobResultsRecovery::Found::kEnd ||
               ending == JobResultsRecovery::Ending::kCut;
    }
};

inline Walked WalkFile(const std::string& dirName, const std::string& fileName) {
    Walked walked;
    JobResultsRecovery walk;
    if (!walk.open(dirName, fileName)) return walked;
    for (;;) {
        walked.last = walk.next();
        if (walked.last == JobResultsRecovery::Found::kRecord) {
            walked.records.push_back(walk.record());
            walked.spans.push_back({walk.offset(), walk.length()});
        } else if (walked.last == JobResultsRecovery::Found::kDamage) {
            ++walked.stretches;
            walked.stretchBytes += walk.length();
        } else {
            break;
        }
    }
    walked.ending = walk.ending();
    walked.endOffset = walk.offset();
    return walked;
}

// The bytes of a saved file that the writer makes of records, written in a
// fresh directory under scratch; empty when writing fails.
inline std::string WrittenBytes(const std::string& scratch,
                                const std::vector<JobResults>& records) {
    static_cast<void>(std::filesystem::create_directory(scratch));
    {
        CCIJobResults writer;
        writer.createJobResults(scratch + "/w");
        for (const JobResults& record : records) {
            if (writer.addJobResult(record) != 1) return "";
        }
        if (writer.saveJobResults() != 1) return "";
    }
    const std::vector<std::string> names = testsupport::DirectoryEntries(scratch);
    const std::string bytes =
        names.size() == 1 ? testsupport::ReadWholeFile(scratch + "/" + names[0]) : "";
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
    return bytes;
}

// Whether bytes up to the end that the walk found are what the writer
// writes for the records the walk read: then the damage left a file that a
// writer could have written, and no rule could tell.
inline bool WriterCouldHaveWritten(const std::string& bytes, const Walked& walked,
                                   const std::string& scratch) {
    const std::string written = WrittenBytes(scratch, walked.records);
    const size_t body = written.size() - std::min(written.size(), jobresults::kFinalEndTag.size());
    return walked.endOffset == body && bytes.compare(0, body, written, 0, body) == 0;
}

}  // namespace damagestudy

#endif  // CIJOBRESULTS_BENCH_DAMAGE_H
