#include "jrtool/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "jobresults/JobResultsNames.h"

namespace jrtool {

namespace {

using jobresults::kDirectorySeparator;
using jobresults::kExtension;

// What every job results file name starts with.
const std::string kNameStart = std::string(jobresults::kBaseFileName) + jobresults::kTimeSeparator;

bool IsDirectory(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool IsExistingFile(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

// What to pass instead of the directory `directory` where a file is
// expected.
std::string FileHintFor(const std::string& directory) {
    const std::string inside = directory.back() == '/' ? directory : directory + "/";
    return "name a job results file in it, such as '" +
           ResultsFilePath{inside + "results", ResultsFileName(1700000000)}.WholePath() + "'";
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
    long long seconds = 0;
    if (!jobresults::ParseResultsFileName(fileName, seconds)) return std::nullopt;
    return seconds;
}

// --- directory names and listing ------------------------------------------

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
    const jobresults::DirectoryNameNote note = jobresults::NoteOnDirectoryName(dirName);
    if (!note.applies) return std::nullopt;
    return DirectoryNameNote{note.text, note.endsInSlash};
}

// --- reading ------------------------------------------------------------

bool RecordSource::Open(const ResultsFilePath& file) {
    if (!file.IsPlain()) return m_reader.open(file.dirName, file.fileName);
    return m_reader.open(file.fileName);
}

bool RecordSource::Resume(const std::string& wholePath, const jobresults::ResumePoint& point) {
    return m_reader.resume(wholePath, point);
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
    return ReaderError(m_reader.errorMessage(), m_reader.errorNumber());
}

std::string ReaderError(const std::string& message, int errorNumber) {
    if (message.empty()) return "the reader failed without a message";
    return WithReason(message, errorNumber);
}

// The reader reports refused content with errno -1 and a failed system
// call with its errno.
bool RecordSource::Damaged() const { return !m_reader.ok() && m_reader.errorNumber() == -1; }

std::string ByteAndLine(const std::string& path, std::uint64_t offset) {
    std::string where = "byte " + std::to_string(offset);
    std::uint64_t line = 0;
    if (jobresults::LineOfOffset(path, offset, line) == 0) {
        where += " (line " + std::to_string(line) + ")";
    }
    return where;
}

bool OpenLayoutWalk(const ResultsFilePath& file, JobResultsRecovery& walk, std::string& error) {
    if (walk.open(file.WholePath())) return true;
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

std::string DamageText(const jobresults::FileCheck& check) {
    return DamageText(check.damage == jobresults::DamageKind::kStray
                          ? JobResultsRecovery::Found::kDamage
                          : JobResultsRecovery::Found::kEnd,
                      check.damageLength);
}

std::string ProblemText(const jobresults::ResultsFile& file,
                        const jobresults::ProgressOutcome& outcome, bool withLine) {
    const jobresults::FileCheck& check = outcome.check;
    switch (outcome.problem) {
    case jobresults::ProgressProblem::kNone:
        return std::string();
    case jobresults::ProgressProblem::kFailed:
        return ReaderError(outcome.message, check.error);
    case jobresults::ProgressProblem::kDamaged:
        break;
    }
    const std::string where = withLine ? ByteAndLine(file.path, check.damageOffset)
                                       : "byte " + std::to_string(check.damageOffset);
    return "damaged at " + where + ": " + DamageText(check);
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
        m_error = kNoDirectoryNameMessage;
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

bool ResultsWriter::Succeeded(int storeResult) {
    if (storeResult != 1) m_error = StoreError(m_store);
    return storeResult == 1;
}

bool ResultsWriter::Save() { return Succeeded(m_store.saveJobResults()); }

bool ResultsWriter::SetSync(JobResultsSync level) { return Succeeded(m_store.setSyncLevel(level)); }

bool ResultsWriter::Sync() { return Succeeded(m_store.syncJobResults()); }

}  // namespace jrtool
