// "Read all records" with each tool: open the file and deliver every
// record's five fields, the strings trimmed, the size as an unsigned 64-bit
// number. Each call is self-contained: it opens, reads, delivers and
// releases everything, so a timed call covers the whole job.
#ifndef CIJOBRESULTS_BENCH_READERS_H
#define CIJOBRESULTS_BENCH_READERS_H

#include <string>
#include <vector>

#include "bench/records.h"

namespace bench {

// kOurs: CCIJobResults (openJobResults, getNextJobResult); kOursStream:
// JobResultsReader (open, next, ok); kOursStrict: the same reading strictly
// (the verdict of check).
enum class Reader {
    kOurs,
    kOursStream,
    kOursStrict,
    kPugixml,
    kRapidxml,
    kExpat,
    kLibxml2Tree,
    kLibxml2Reader,
    kFloor
};

const std::vector<Reader>& AllReaders();
const char* ReaderName(Reader reader);
bool ReaderByName(const std::string& name, Reader& reader);

// A file as the store names it: directory, a backslash, file name.
struct JobResultsFile {
    std::string dir;
    std::string name;
    std::string Path() const { return dir + "\\" + name; }
};

struct ReadResult {
    bool ok = false;
    Digest digest;  // what was delivered (the floor counts "<" in records)
    std::string error;
};

ReadResult ReadAll(Reader reader, const JobResultsFile& file);

// Tags the floor pass finds in a file of `count` records.
std::uint64_t ExpectedFloorCount(std::uint64_t count);

}  // namespace bench

#endif  // CIJOBRESULTS_BENCH_READERS_H
