// How check and salvage fare on damaged files: copies of one writer's file
// damaged at many random places, per kind of damage. For each kind: the
// cases tried; the files that check passes in silence, split into those
// whose damaged bytes are a file the writer could have written (no rule can
// tell those) and the others (which must be none); the garbled records that
// salvage copies, by their damaged place: one that check finds when it is
// the only damage (must be none) or one whose bytes a writer could have
// written; and the share of intact records that salvage recovers. Exits
// with 1 when a must-be-none count is not 0 or an intact record is lost.
//
// A second table changes a writer's file the way an adversary would: one
// byte at a time over two whole records and the file's end, with 11 byte
// values each, and one page zeroed at each page position, saved and open.
// A change is silent when a reader or the walk takes the file as sound
// while its records are not all in their writer's places (a changed value
// byte that leaves every record in place does not count). Every silent
// count must be 0.
//
//   damage_survey [RECORDS [CASES [SEED]]]     (default 3000 200 1)
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "jobresults/JobResultsReader.h"
#include "jobresults/JobResultsRecovery.h"
#include "jobresults/cijobresults.h"
#include "support/damage.h"
#include "support/scratch.h"

namespace {

using namespace damagestudy;
using testsupport::ScratchDir;
using testsupport::WriteWholeFile;

struct Tally {
    size_t cases = 0;
    size_t silentWriterPossible = 0;
    size_t silentOther = 0;
    size_t garbledFromFoundPlace = 0;
    size_t garbledFromSilentPlace = 0;
    size_t intact = 0;
    size_t recovered = 0;
};

// The verdict of check: the reader accepts the file, and the walk over the
// writer's layout finds no damage in it.
bool CheckPasses(const std::string& dirName, const std::string& fileName, const Walked& walked) {
    JobResultsReader reader;
    if (reader.open(dirName, fileName)) {
        JobResults record;
        while (reader.next(record)) {
        }
    }
    return reader.ok() && !walked.Damaged();
}

// Whether the walk finds the damage of one damaged place alone: the sound
// file with only that range taken from the damaged one.
bool FoundAlone(const std::string& sound, const Damaged& damaged, const Span& place,
                const std::string& path, const std::string& dirName, const std::string& name) {
    std::string bytes = sound;
    bytes.replace(place.offset, place.length, damaged.bytes, place.offset, place.length);
    bytes.resize(std::min(bytes.size(), damaged.bytes.size()));
    return WriteWholeFile(path, bytes) && WalkFile(dirName, name).Damaged();
}

// Counts each garbled record that salvage copied by its damaged place:
// one that the walk finds when it is the only damage, or one whose bytes
// the writer could have written.
void AttributeGarbled(const std::string& sound, const Damaged& damaged, const Walked& walked,
                      const RescueJudgement& judgement, const std::string& path,
                      const std::string& dirName, const std::string& name, Tally& tally) {
    for (const size_t at : judgement.garbledAt) {
        bool found = false;
        for (const Span& place : damaged.touched) {
            if (Touched(walked.spans[at], {place})) {
                found = found || FoundAlone(sound, damaged, place, path, dirName, name);
            }
        }
        ++(found ? tally.garbledFromFoundPlace : tally.garbledFromSilentPlace);
    }
}

// The readers and the walk give the same records for the sound file.
bool ReaderAgrees(const std::string& dirName, const std::string& fileName, const Walked& walked) {
    JobResultsReader reader;
    if (!reader.open(dirName, fileName)) return false;
    size_t i = 0;
    JobResults record;
    while (reader.next(record)) {
        if (i >= walked.records.size() || !SameRecord(record, walked.records[i])) return false;
        ++i;
    }
    return reader.ok() && i == walked.records.size();
}

void PrintRow(DamageKind kind, const Tally& t) {
    const double share = t.intact == 0 ? 100.0 : 100.0 * double(t.recovered) / double(t.intact);
    std::cout << "| " << DamageName(kind) << " | " << t.cases << " | " << t.silentWriterPossible
              << " | " << t.silentOther << " | " << t.garbledFromFoundPlace << " | "
              << t.garbledFromSilentPlace << " | " << t.recovered << " / " << t.intact << " ("
              << share << " %) |\n";
}

// --- the adversary's changes ------------------------------------------------

// Where each record begins in a sound file, as the writer placed it.
std::vector<std::uint64_t> RecordStarts(const std::string& bytes) {
    std::vector<std::uint64_t> starts;
    for (size_t at = bytes.find("<JobResult>\n"); at != std::string::npos;
         at = bytes.find("<JobResult>\n", at + 1)) {
        starts.push_back(at);
    }
    return starts;
}

struct Silence {
    size_t streaming = 0;
    size_t classic = 0;
    size_t walk = 0;
};

void CountSilence(const std::string& dirName, const std::string& name,
                  const std::vector<std::uint64_t>& starts, Silence& silence) {
    JobResultsReader reader;
    std::vector<std::uint64_t> read;
    if (reader.open(dirName, name)) {
        JobResults record;
        while (reader.next(record)) read.push_back(reader.recordOffset());
    }
    silence.streaming += reader.ok() && read != starts;

    CCIJobResults classic;
    if (classic.openJobResults(dirName, name)) {
        size_t count = 0;
        int result = 1;
        JobResults record;
        while (result == 1 && (result = classic.getNextJobResult(record)) >= 0) ++count;
        silence.classic += result == 0 && count != starts.size();
    }

    JobResultsRecovery walk;
    std::vector<std::uint64_t> walked;
    walk.open(dirName, name);
    JobResultsRecovery::Found found;
    while ((found = walk.next()) == JobResultsRecovery::Found::kRecord)
        walked.push_back(walk.offset());
    silence.walk += found == JobResultsRecovery::Found::kEnd &&
                    walk.ending() != JobResultsRecovery::Ending::kCut && walked != starts;
}

struct Survey {
    size_t cases = 0;
    Silence silence;
};

// Tries one changed copy of sound, unless the change leaves it as it was.
void TryChange(const std::string& sound, const std::string& changed, const std::string& path,
               const std::string& dirName, const std::string& name, Survey& survey) {
    if (changed == sound || !WriteWholeFile(path, changed)) return;
    ++survey.cases;
    CountSilence(dirName, name, RecordStarts(sound), survey.silence);
}

std::string WriterFile(const std::string& scratch, size_t records, bool saved) {
    std::vector<JobResults> originals;
    for (size_t i = 0; i < records; ++i) originals.push_back(MixedRecord(i));
    std::string bytes = WrittenBytes(scratch, originals);
    if (!saved) {
        bytes.resize(bytes.size() - jobresults::kFinalEndTag.size());
        bytes += jobresults::kTrailer;
    }
    return bytes;
}

Survey ByteSurvey(const std::string& sound, const std::string& path, const std::string& dirName,
                  const std::string& name) {
    const char values[] = {'\0', '<', '>', '/', 'x', 'z', ' ', '\n', 'J', 'R', '\xff'};
    const std::vector<std::uint64_t> starts = RecordStarts(sound);
    Survey survey;
    const size_t middle = starts.size() / 2;
    const auto tryRange = [&](size_t from, size_t to) {
        for (size_t at = from; at < to; ++at) {
            for (const char value : values) {
                std::string changed = sound;
                changed[at] = value;
                TryChange(sound, changed, path, dirName, name, survey);
            }
        }
    };
    tryRange(starts[middle], starts[middle + 2]);
    tryRange(starts.back(), sound.size());
    return survey;
}

Survey PageSurvey(const std::string& sound, const std::string& path, const std::string& dirName,
                  const std::string& name) {
    Survey survey;
    for (size_t page = 0; page * kPageSize < sound.size(); ++page) {
        std::string changed = sound;
        const size_t begin = page * kPageSize;
        changed.replace(begin, std::min(kPageSize, sound.size() - begin),
                        std::min(kPageSize, sound.size() - begin), '\0');
        TryChange(sound, changed, path, dirName, name, survey);
    }
    return survey;
}

bool PrintSurvey(const char* what, const Survey& survey) {
    std::cout << "| " << what << " | " << survey.cases << " | " << survey.silence.streaming << " | "
              << survey.silence.classic << " | " << survey.silence.walk << " |\n";
    return survey.silence.streaming + survey.silence.classic + survey.silence.walk == 0;
}

bool AdversarySurvey(const std::string& scratch, const std::string& path,
                     const std::string& dirName, const std::string& name) {
    std::cout << "\n| change | cases | silent: streaming reader | silent: classic reader | "
                 "silent: walk |\n|---|---|---|---|---|\n";
    bool quiet = true;
    for (const bool saved : {true, false}) {
        const std::string small = WriterFile(scratch + "/s" + (saved ? "1" : "0"), 40, saved);
        const std::string large = WriterFile(scratch + "/l" + (saved ? "1" : "0"), 1500, saved);
        quiet = PrintSurvey(saved ? "one byte, 40 records, saved" : "one byte, 40 records, open",
                            ByteSurvey(small, path, dirName, name)) &&
                quiet;
        quiet = PrintSurvey(
                    saved ? "zeroed page, 1500 records, saved" : "zeroed page, 1500 records, open",
                    PageSurvey(large, path, dirName, name)) &&
                quiet;
    }
    return quiet;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t records = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 3000;
    const int cases = argc > 2 ? std::atoi(argv[2]) : 200;
    std::mt19937 random(argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 1u);
    ScratchDir dir;
    std::vector<JobResults> originals;
    for (size_t i = 0; i < records; ++i) originals.push_back(MixedRecord(i));
    const std::string sound = WrittenBytes(dir.Path() + "/sound", originals);
    const std::string damagedDir = dir.Path() + "/d";
    const std::string name = "ci_push_1.xml";
    const std::string path = damagedDir + "\\" + name;
    if (sound.empty() || !WriteWholeFile(path, sound)) {
        std::cerr << "damage_survey: cannot write the sound file\n";
        return 1;
    }
    const Walked whole = WalkFile(damagedDir, name);
    if (whole.Damaged() || whole.records.size() != records ||
        !ReaderAgrees(damagedDir, name, whole)) {
        std::cerr << "damage_survey: the sound file does not walk as the reader reads it\n";
        return 1;
    }
    std::cout << records << " records, " << sound.size() << " bytes, " << cases
              << " cases per kind\n\n"
              << "| damage | cases | check silent: writer-possible | check silent: other | "
                 "garbled copied: place check finds | garbled copied: writer-possible place | "
                 "intact recovered |\n"
              << "|---|---|---|---|---|---|---|\n";
    bool allSound = true;
    for (const DamageKind kind : kDamageKinds) {
        Tally tally;
        for (int i = 0; i < cases; ++i) {
            const Damaged damaged = Damage(sound, whole.spans, kind, random);
            if (!WriteWholeFile(path, damaged.bytes)) return 1;
            const Walked walked = WalkFile(damagedDir, name);
            const RescueJudgement judgement =
                Judge(originals, whole.spans, damaged.touched, walked.records);
            const bool silent = CheckPasses(damagedDir, name, walked);
            ++tally.cases;
            if (silent && WriterCouldHaveWritten(damaged.bytes, walked, dir.Path() + "/r")) {
                ++tally.silentWriterPossible;
            } else if (silent) {
                ++tally.silentOther;
            }
            AttributeGarbled(sound, damaged, walked, judgement, path, damagedDir, name, tally);
            tally.intact += judgement.intact;
            tally.recovered += judgement.recovered;
        }
        PrintRow(kind, tally);
        allSound = allSound && tally.silentOther == 0 && tally.garbledFromFoundPlace == 0 &&
                   tally.recovered == tally.intact;
    }
    const bool quiet = AdversarySurvey(dir.Path(), path, damagedDir, name);
    return allSound && quiet ? 0 : 1;
}
