// The files of a directory name that a caller has read, kept by identity:
// a name says which file is meant only until a later file takes it.
#include <set>

#include "jobresults/JobResultsProgress.h"

namespace jobresults {

KnownFile& KnownEntry(KnownFiles& known, const ResultsFile& file) {
    for (auto it = known.begin(); it != known.end();) {
        const bool taken = it->second.fileName == file.fileName && it->first != file.identity;
        it = taken ? known.erase(it) : std::next(it);
    }
    KnownFile& entry = known[file.identity];
    entry.fileName = file.fileName;
    entry.createdSeconds = file.createdSeconds;
    return entry;
}

bool KeepListed(KnownFiles& known, const std::vector<ResultsFile>& listed) {
    std::set<FileIdentity> present;
    for (const ResultsFile& file : listed) present.insert(file.identity);
    const std::size_t before = known.size();
    for (auto it = known.begin(); it != known.end();) {
        it = present.count(it->first) > 0 ? std::next(it) : known.erase(it);
    }
    return known.size() == before;
}

bool ForgetFileName(KnownFiles& known, const std::string& fileName) {
    const std::size_t before = known.size();
    for (auto it = known.begin(); it != known.end();) {
        it = it->second.fileName == fileName ? known.erase(it) : std::next(it);
    }
    return known.size() != before;
}

const KnownFile* FindByInode(const KnownFiles& known, std::uint64_t inode) {
    for (const auto& [identity, file] : known) {
        if (identity.inode == inode) return &file;
    }
    return nullptr;
}

ProgressLookup LookupIn(const KnownFiles& known) {
    return [&known](const ResultsFile& file) -> const FileProgress* {
        const auto found = known.find(file.identity);
        return found == known.end() ? nullptr : &found->second.progress;
    };
}

}  // namespace jobresults
