#include "jrtool/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>
#include <utility>

#include "jobresults/JobResultsNames.h"

namespace jrtool {

namespace {

using jobresults::kDirectorySeparator;
using jobresults::kExtension;

// What every job results file name starts with.
const std::string kNameStart = std::string(jobresults::kBaseFileName) + jobresults::kTimeSeparator;

bool IsDecimal(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

bool IsDirectory(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool IsExistingFile(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

// `directory` joined with a name in it, without doubling a slash.
std::string Inside(const std::string& directory, const std::string& name) {
    return !directory.empty() && directory.back() == '/' ? directory + name
                                                         : directory + "/" + name;
}

// The directory names whose job results files lie in `directory`: for the
// file "results\ci_push_1700000000.xml" in "out", "out/results". At most
// three, sorted.
std::vector<std::string> DirectoryNamesInside(const std::string& directory) {
    std::vector<std::string> names;
    DIR* const listing = opendir(directory.c_str());
    if (listing == nullptr) return names;
    while (const dirent* const entry = readdir(listing)) {
        const std::string name = entry->d_name;
        const auto separator = name.rfind(kDirectorySeparator);
        if (separator == std::string::npos ||
            !CreationTimeFromFileName(name.substr(separator + 1))) {
            continue;
        }
        const std::string dirName = Inside(directory, name.substr(0, separator));
        if (std::find(names.begin(), names.end(), dirName) == names.end()) {
            names.push_back(dirName);
        }
    }
    closedir(listing);
    std::sort(names.begin(), names.end());
    if (names.size() > 3) names.resize(3);
    return names;
}

// The names joined with " or ".
std::string Alternatives(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) text += (i > 0 ? " or " : "") + names[i];
    return text;
}

// What to pass instead of the directory `directory` where a file is
// expected.
std::string FileHintFor(const std::string& directory) {
    const std::vector<std::string> names = DirectoryNamesInside(directory);
    if (names.empty()) {
        return "name a job results file in it, such as '" +
               ResultsFilePath{Inside(directory, "results"), ResultsFileName(1700000000)}
                   .WholePath() +
               "'";
    }
    return "'jobresults list " + names.front() + "' lists the job results files in it";
}

}  // namespace

std::string WithReason(const std::string& message, int error) {
    if (error <= 0) return message;
    const bool period = !message.empty() && message.back() == '.';
    return message.substr(0, message.size() - (period ? 1 : 0)) + ": " + std::strerror(error);
}

std::string StoreError(const CCIJobResults& store) {
    if (store.m_sErrorMsg.empty()) return "the store failed without a message";
    return WithReason(store.m_sErrorMsg, store.m_nErrno);
}

// --- naming -------------------------------------------------------------

std::string ResultsFilePath::WholePath() const {
    return IsPlain() ? fileName : dirName + kDirectorySeparator + fileName;
}

std::optional<ResultsFilePath> SplitWholePath(const std::string& wholePath) {
    const auto separator = wholePath.rfind(kDirectorySeparator);
    if (separator == std::string::npos || separator == 0 || separator + 1 == wholePath.size()) {
        return std::nullopt;
    }
    return ResultsFilePath{wholePath.substr(0, separator), wholePath.substr(separator + 1)};
}

std::optional<std::vector<ResultsFilePath>> ParseFileArguments(
    const std::vector<std::string>& arguments, std::string& error) {
    std::vector<ResultsFilePath> files;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool whole = argument.find(kDirectorySeparator) != std::string::npos;
        if ((!whole || !SplitWholePath(argument)) && IsExistingFile(argument)) {
            files.push_back(ResultsFilePath::Plain(argument));
            continue;
        }
        if (whole) {
            auto file = SplitWholePath(argument);
            if (!file) {
                error = "'" + argument + "' is not a job results path (" +
                        ResultsFilePath{"directory name", "file name"}.WholePath() + ")";
                return std::nullopt;
            }
            files.push_back(*file);
            continue;
        }
        if (argument.empty() || i + 1 == arguments.size() || arguments[i + 1].empty()) {
            error = IsDirectory(argument)
                        ? "'" + argument + "' is a directory, not a file: " + FileHintFor(argument)
                        : "no file '" + argument +
                              "'; without a backslash it would be a directory name, but no "
                              "file name follows it";
            return std::nullopt;
        }
        files.push_back({argument, arguments[i + 1]});
        ++i;
    }
    return files;
}

std::optional<ResultsFilePath> ParseSingleFileArguments(const std::vector<std::string>& arguments,
                                                        std::string& error) {
    if (arguments.size() == 2 && !arguments[0].empty() && !arguments[1].empty()) {
        return ResultsFilePath{arguments[0], arguments[1]};
    }
    const auto files = ParseFileArguments(arguments, error);
    if (!files) return std::nullopt;
    if (files->size() != 1) {
        error = "expected one file: a whole path, or a directory name and a file name";
        return std::nullopt;
    }
    return files->front();
}

std::string ResultsFileName(long long seconds) {
    return kNameStart + std::to_string(seconds) + std::string(kExtension);
}

std::string ResultsFileNamePattern() { return kNameStart + "<seconds>" + std::string(kExtension); }

std::optional<long long> CreationTimeFromFileName(const std::string& fileName) {
    const auto minimumSize = kNameStart.size() + kExtension.size();
    if (fileName.size() <= minimumSize || fileName.compare(0, kNameStart.size(), kNameStart) != 0 ||
        fileName.compare(fileName.size() - kExtension.size(), kExtension.size(), kExtension) != 0) {
        return std::nullopt;
    }
    std::string digits = fileName.substr(kNameStart.size(), fileName.size() - minimumSize);
    const bool negative = digits[0] == '-';
    if (negative) digits.erase(0, 1);
    // 18 digits always fit a long long; the writer never prints more for
    // any time this side of the year 30 billion.
    if (!IsDecimal(digits) || digits.size() > 18) return std::nullopt;
    const long long magnitude = std::stoll(digits);
    return negative ? -magnitude : magnitude;
}

// --- directory names given as directories --------------------------------

std::optional<DirectoryNameNote> NoteOnDirectoryName(const std::string& dirName) {
    if (dirName.empty()) {
        return DirectoryNameNote{
            "the directory name is empty: pass the one the files were written with, such as "
            "/var/ci/results for the files '/var/ci/" +
                ResultsFilePath{"results", ResultsFileNamePattern()}.WholePath() +
                "' (the metrics service takes it from JOBRESULTS_DIR in "
                "/etc/default/jobresults-metrics)",
            true};
    }
    const bool endsInSlash = !dirName.empty() && dirName.back() == '/';
    if (!endsInSlash && !IsDirectory(dirName)) return std::nullopt;
    const HostLocation host = LocateOnHost(dirName);
    const std::string directory = endsInSlash ? host.directory : dirName;
    const std::vector<std::string> inside = DirectoryNamesInside(directory);
    const std::string instead =
        inside.empty() ? "a directory name inside it, such as " + Inside(directory, "results")
                       : Alternatives(inside);
    const std::string text =
        "'" + dirName + "' " + (endsInSlash ? "ends in '/'" : "is a directory") +
        ": a directory name starts the paths of its files rather than naming their directory, "
        "so the files of '" +
        dirName + "' are named '" + host.namePrefix + ResultsFileNamePattern() + "' in '" +
        host.directory + "'. For the files inside " + directory + ", pass " + instead;
    return DirectoryNameNote{text, endsInSlash};
}

// --- listing ------------------------------------------------------------

int ForEachResultsFile(const std::string& dirName, const ResultsFileVisitor& visit) {
    const HostLocation location = LocateOnHost(dirName);
    DIR* const directory = opendir(location.directory.c_str());
    if (directory == nullptr) return errno;
    int failure = 0;
    for (;;) {
        errno = 0;
        const dirent* const entry = readdir(directory);
        if (entry == nullptr) {
            failure = errno;
            break;
        }
        const std::string name = entry->d_name;
        if (name.compare(0, location.namePrefix.size(), location.namePrefix) != 0) continue;
        const std::string fileName = name.substr(location.namePrefix.size());
        const auto created = CreationTimeFromFileName(fileName);
        if (!created) continue;
        if (!visit(dirfd(directory), entry->d_name, ListedFile{{dirName, fileName}, *created})) {
            break;
        }
    }
    closedir(directory);
    return failure;
}

std::optional<std::vector<ListedFile>> ListResultsFiles(const std::string& dirName,
                                                        std::string& error) {
    std::vector<ListedFile> files;
    const int failure =
        ForEachResultsFile(dirName, [&files](int directory, const char* entry, ListedFile file) {
            struct stat status;
            if (fstatat(directory, entry, &status, 0) == 0 && S_ISREG(status.st_mode)) {
                files.push_back(std::move(file));
            }
            return true;
        });
    if (failure != 0) {
        error = WithReason("cannot read directory " + LocateOnHost(dirName).directory, failure);
        return std::nullopt;
    }
    std::sort(files.begin(), files.end(), [](const ListedFile& a, const ListedFile& b) {
        return a.createdSeconds != b.createdSeconds ? a.createdSeconds < b.createdSeconds
                                                    : a.path.fileName < b.path.fileName;
    });
    return files;
}

// --- reading ------------------------------------------------------------

namespace {

// A FIFO would block the open until a writer comes; a missing file the
// opener reports itself, with the system's reason.
bool NotRegular(const ResultsFilePath& file, std::string& error) {
    struct stat kind;
    if (stat(file.WholePath().c_str(), &kind) != 0 || S_ISREG(kind.st_mode)) return false;
    error = file.WholePath() + " is not a regular file";
    return true;
}

// The readers open a directory name and a file name joined by a backslash.
// A plain file is reached through a symbolic link of such a name in a
// private temporary directory; the link goes as soon as the reader holds the
// file.
class ReaderAlias {
public:
    explicit ReaderAlias(const std::string& path) {
        const char* const temporary = std::getenv("TMPDIR");
        std::string directory =
            std::string(temporary && *temporary ? temporary : "/tmp") + "/jobresults.XXXXXX";
        char* const target = realpath(path.c_str(), nullptr);
        if (target == nullptr || mkdtemp(&directory[0]) == nullptr) {
            m_error = errno;
            std::free(target);
            return;
        }
        m_directory = directory;
        const auto slash = path.rfind('/');
        m_file = {directory + "/f", slash == std::string::npos ? path : path.substr(slash + 1)};
        if (symlink(target, m_file.WholePath().c_str()) != 0) m_error = errno;
        std::free(target);
    }
    ~ReaderAlias() {
        if (m_directory.empty()) return;
        unlink(m_file.WholePath().c_str());
        rmdir(m_directory.c_str());
    }
    ReaderAlias(const ReaderAlias&) = delete;
    ReaderAlias& operator=(const ReaderAlias&) = delete;

    // 0, or the errno of the failure to make the alias.
    int Error() const { return m_error; }
    const ResultsFilePath& File() const { return m_file; }

private:
    std::string m_directory;
    ResultsFilePath m_file;
    int m_error = 0;
};

}  // namespace

bool RecordSource::Open(const ResultsFilePath& file) {
    if (NotRegular(file, m_notRegular)) return false;
    if (!file.IsPlain()) return m_reader.open(file.dirName, file.fileName);
    const ReaderAlias alias(file.fileName);
    if (alias.Error() != 0) {
        m_notRegular = WithReason("cannot open " + file.fileName, alias.Error());
        return false;
    }
    m_aliasPath = alias.File().WholePath();
    m_plainPath = file.fileName;
    return m_reader.open(alias.File().dirName, alias.File().fileName);
}

bool RecordSource::Next(JobResults& record) {
    // clear() keeps the capacity, so that reusing one record allocates
    // little.
    record.ClientName.clear();
    record.Url.clear();
    record.BackupJobId.clear();
    record.ErrorString.clear();
    record.Size = 0;
    if (!m_reader.next(record)) return false;
    ++m_delivered;
    return true;
}

std::string RecordSource::Error() const {
    if (!m_notRegular.empty()) return m_notRegular;
    if (m_reader.errorMessage().empty()) return "the reader failed without a message";
    std::string message = m_reader.errorMessage();
    const auto alias = m_aliasPath.empty() ? std::string::npos : message.find(m_aliasPath);
    if (alias != std::string::npos) message.replace(alias, m_aliasPath.size(), m_plainPath);
    return WithReason(message, m_reader.errorNumber());
}

// The reader reports refused content with errno -1 and a failed system
// call with its errno.
bool RecordSource::Damaged() const {
    return m_notRegular.empty() && !m_reader.ok() && m_reader.errorNumber() == -1;
}

std::string ByteAndLine(const std::string& path, std::uint64_t offset) {
    std::string where = "byte " + std::to_string(offset);
    if (const auto line = LineOfOffset(path, offset)) {
        where += " (line " + std::to_string(*line) + ")";
    }
    return where;
}

bool OpenLayoutWalk(const ResultsFilePath& file, JobResultsRecovery& walk, std::string& error) {
    if (NotRegular(file, error)) return false;
    if (!file.IsPlain()) {
        if (walk.open(file.dirName, file.fileName)) return true;
    } else {
        const ReaderAlias alias(file.fileName);
        if (alias.Error() != 0) {
            error = WithReason("cannot open " + file.fileName, alias.Error());
            return false;
        }
        if (walk.open(alias.File().dirName, alias.File().fileName)) return true;
    }
    error = WithReason("cannot open " + file.WholePath(), walk.errorNumber());
    return false;
}

std::string DamageText(JobResultsRecovery::Found found, std::uint64_t length) {
    if (found == JobResultsRecovery::Found::kDamage) {
        return "bytes that no writer leaves there (" + std::to_string(length) +
               (length == 1 ? " byte)" : " bytes)");
    }
    return "the file stops where a record or its end tag should follow";
}

std::optional<std::uint64_t> LineOfOffset(const std::string& path, std::uint64_t offset) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char buffer[65536];
    std::uint64_t line = 1;
    std::uint64_t left = offset;
    while (left > 0) {
        const ssize_t count = read(fd, buffer, std::min<std::uint64_t>(left, sizeof buffer));
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        line += static_cast<std::uint64_t>(std::count(buffer, buffer + count, '\n'));
        left -= static_cast<std::uint64_t>(count);
    }
    close(fd);
    if (left > 0) return std::nullopt;
    return line;
}

FileEnding EndingOf(const std::string& wholePath) {
    using jobresults::kFinalEndTag;
    using jobresults::kTrailer;
    std::ifstream in(wholePath, std::ios::binary | std::ios::ate);
    const auto size = static_cast<std::streamoff>(in.tellg());
    const auto tailSize = std::min(size, static_cast<std::streamoff>(kFinalEndTag.size()));
    if (!in || tailSize <= 0) return FileEnding::kSaved;
    std::string tail(static_cast<std::size_t>(tailSize), '\0');
    in.seekg(size - tailSize);
    in.read(&tail[0], tailSize);
    const auto endsWith = [&tail](std::string_view end) {
        return tail.size() >= end.size() &&
               tail.compare(tail.size() - end.size(), end.size(), end.data(), end.size()) == 0;
    };
    return in && endsWith(kTrailer) && !endsWith(kFinalEndTag) ? FileEnding::kOpen
                                                               : FileEnding::kSaved;
}

// --- writing ------------------------------------------------------------

ResultsWriter::ResultsWriter(std::string dirName) : m_dirName(std::move(dirName)) {}

bool ResultsWriter::Add(const JobResults& record) {
    if (!Created()) return AddFirst(record);
    if (m_store.addJobResult(record) != 1) {
        m_error = StoreError(m_store);
        return false;
    }
    return true;
}

// The store names the file it created while it holds it open, however it
// chose the name and whatever other writers do in the same directory.
bool ResultsWriter::AddFirst(const JobResults& record) {
    // A plain file has no directory name for salvage to default to.
    if (m_dirName.empty()) {
        m_error =
            "a new file needs a directory name, and none was given (for a file named by "
            "a plain path, salvage needs --out)";
        return false;
    }
    // createJobResults appends to the directory name, so it runs only once.
    if (!m_directorySet && m_store.createJobResults(m_dirName) != 1) {
        m_error = StoreError(m_store);
        return false;
    }
    m_directorySet = true;
    // A failed creation leaves m_nErrno as it is and errno holds the reason;
    // the other failures of a first append record theirs in m_nErrno.
    m_store.m_nErrno = 0;
    if (m_store.addJobResult(record) != 1) {
        const int reason = errno;
        m_error =
            m_store.m_nErrno != 0 ? StoreError(m_store) : WithReason(m_store.m_sErrorMsg, reason);
        return false;
    }
    m_createdPath = m_store.getJobResultsFilePath();
    if (m_createdPath.empty()) {
        m_error = "the store reported success, but no file named " +
                  ResultsFilePath{m_dirName, ResultsFileNamePattern()}.WholePath() +
                  " is the file it wrote";
        return false;
    }
    return true;
}

bool ResultsWriter::Save() {
    if (m_store.saveJobResults() != 1) {
        m_error = StoreError(m_store);
        return false;
    }
    return true;
}

}  // namespace jrtool
