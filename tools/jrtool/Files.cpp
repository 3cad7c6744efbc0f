#include "jrtool/Files.h"

#include <cerrno>

#include "jrtool/Text.h"

namespace jrtool {

std::string StoreError(const CCIJobResults& store, int error) {
    if (store.m_sErrorMsg.empty()) return "the store failed without a message";
    return WithReason(store.m_sErrorMsg, error);
}

// --- directory names and listing ------------------------------------------

std::optional<jobresults::DirectoryNameNote> NoteOnDirectoryName(const std::string& dirName) {
    if (dirName.empty()) {
        return jobresults::DirectoryNameNote{
            true, true,
            "the directory name is empty: pass the one the files were written with, such as "
            "/var/ci/results for the files '/var/ci/" +
                ResultsFilePath{"results", jobresults::ResultsFileNamePattern()}.WholePath() +
                "' (the metrics service takes it from JOBRESULTS_DIR in "
                "/etc/default/jobresults-metrics)"};
    }
    jobresults::DirectoryNameNote note = jobresults::NoteOnDirectoryName(dirName);
    if (!note.applies) return std::nullopt;
    return note;
}

// --- reading ------------------------------------------------------------

bool RecordSource::Open(const ResultsFilePath& file) {
    if (!file.IsPlain()) return m_reader.open(file.dirName, file.fileName);
    return m_reader.open(file.fileName);
}

bool RecordSource::Next(JobResults& record) {
    jobresults::ClearRecord(record);
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

namespace {

// The damage a check found: a stray stretch of bytes, or an end where the
// file stops too early, in plain words.
std::string DamageText(const jobresults::FileCheck& check) {
    if (check.damage != jobresults::DamageKind::kStray) {
        return "the file stops where a record or its end tag should follow";
    }
    return "bytes that no writer leaves there (" + Counted(check.damageLength, "byte") + ")";
}

}  // namespace

std::string DamagedAt(const std::string& path, const jobresults::FileCheck& check, bool withLine) {
    std::string where = "byte " + std::to_string(check.damageOffset);
    std::uint64_t line = 0;
    if (withLine && jobresults::LineOfOffset(path, check.damageOffset, line) == 0) {
        where += " (line " + std::to_string(line) + ")";
    }
    return "damaged at " + where + ": " + DamageText(check);
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
    return DamagedAt(file.path, check, withLine);
}

// --- writing ------------------------------------------------------------

std::string NoCreatedFileMessage(const std::string& dirName) {
    return "the store reported success, but no file named " +
           ResultsFilePath{dirName, jobresults::ResultsFileNamePattern()}.WholePath() +
           " is the file it wrote";
}

ResultsWriter::ResultsWriter(std::string dirName) : m_dirName(std::move(dirName)) {}

bool ResultsWriter::Add(const JobResults& record) {
    if (!Created()) return AddFirst(record);
    return Succeeded(m_store.addJobResult(record));
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
    if (!m_directorySet && !Succeeded(m_store.createJobResults(m_dirName))) return false;
    m_directorySet = true;
    int reason = 0;
    if (jobresults::AddJobResultWithReason(m_store, record, reason) != 1) {
        m_error = StoreError(m_store, reason);
        return false;
    }
    m_createdPath = m_store.getJobResultsFilePath();
    if (m_createdPath.empty()) {
        m_error = NoCreatedFileMessage(m_dirName);
        return false;
    }
    return true;
}

bool ResultsWriter::Succeeded(int storeResult) {
    if (storeResult != 1) m_error = StoreError(m_store, m_store.m_nErrno);
    return storeResult == 1;
}

bool ResultsWriter::Save() { return Succeeded(m_store.saveJobResults()); }

bool ResultsWriter::SetSync(JobResultsSync level) { return Succeeded(m_store.setSyncLevel(level)); }

bool ResultsWriter::Sync() { return Succeeded(m_store.syncJobResults()); }

}  // namespace jrtool
