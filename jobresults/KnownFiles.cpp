// The files of a directory name that a caller has read, kept by identity:
// a name says which file is meant only until a later file takes it.
#include <algorithm>
#include <set>

#include "jobresults/JobResultsProgress.h"
#include "jobresults/JobResultsWatch.h"

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

const KnownFile* FindByName(const KnownFiles& known, const std::string& fileName) {
    for (const auto& [identity, file] : known) {
        if (file.fileName == fileName) return &file;
    }
    return nullptr;
}

FilesOverview OverviewOfFiles(const std::vector<ResultsFile>& listed, const KnownFiles& known,
                              const std::vector<std::string>& unreadable) {
    FilesOverview overview;
    overview.damaged = unreadable;
    for (const ResultsFile& file : listed) {
        overview.newestCreated = std::max(overview.newestCreated, file.createdSeconds);
        const auto found = known.find(file.identity);
        if (found == known.end()) continue;
        const FileState state = found->second.progress.state;
        const std::size_t sameState = ++overview.byState[static_cast<std::size_t>(state)];
        if (state == FileState::kDamaged) overview.damaged.push_back(file.path);
        const bool oldest = sameState == 1 || file.createdSeconds < overview.oldestOpenCreated;
        if (state == FileState::kOpen && oldest) overview.oldestOpenCreated = file.createdSeconds;
    }
    overview.byState[static_cast<std::size_t>(FileState::kDamaged)] += unreadable.size();
    std::sort(overview.damaged.begin(), overview.damaged.end());
    return overview;
}

bool DescribeWatchedFiles(const std::string& dirName, const WatchedChanges& changes,
                          KnownFiles& known, std::vector<ResultsFile>& files) {
    if (changes.overflowed) return false;
    std::vector<std::string> names = changes.fileNames;
    for (const std::uint64_t inode : changes.unnamedInodes) {
        const KnownFile* file = FindByInode(known, inode);
        if (file == nullptr) return false;
        names.push_back(file->fileName);
    }
    for (const std::string& name : names) {
        ResultsFile file;
        if (DescribeResultsFile(dirName, name, file) == 0) {
            files.push_back(std::move(file));
        } else {
            ForgetFileName(known, name);
        }
    }
    return true;
}

}  // namespace jobresults
