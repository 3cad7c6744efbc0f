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
//   damage_survey [RECORDS [CASES [SEED]]]     (default 3000 200 1)
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "support/damage.h"
#include "jobresults/JobResultsReader.h"
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
    return allSound ? 0 : 1;
}
