// CCIJobResults: the writer keeps its file a complete document after every
// append and after every failure; the reader cuts a file into its records
// while it reads it and hands them out one by one.
#include "jobresults/cijobresults.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string_view>
#include <utility>

#include "jobresults/detail/AppendProtocol.h"
#include "jobresults/detail/Durability.h"
#include "jobresults/detail/HostDirectory.h"
#include "jobresults/detail/JobResultsFormat.h"
#include "jobresults/detail/JobResultsLayout.h"
#include "jobresults/detail/JobResultsMessages.h"
#include "jobresults/detail/PlainRecord.h"
#include "jobresults/detail/QxCast.h"
#include "jobresults/detail/RootCursor.h"

using jobresults::AppendStatus;

namespace {

namespace messages = jobresults::messages;

// A value holding a tag of the format's own elements would not read back as
// written, and one holding a NUL byte is no text (see IsUnstorableValue):
// the record is refused, naming the first field that holds either.
bool RefuseUnstorableValue(CCIJobResults& store, const JobResults& record) {
    for (const jobresults::RecordField& field : jobresults::kRecordFields) {
        if (field.kind != jobresults::FieldKind::kText) continue;
        const std::string& value = record.*field.text;
        if (!jobresults::IsUnstorableValue(value)) continue;
        store.m_nErrno = EINVAL;
        const std::string_view tag = jobresults::FormatTagIn(value);
        store.m_sErrorMsg = tag.empty() ? messages::NulInValue(field.tag)
                                        : messages::UnreadableValue(field.tag, tag);
        return true;
    }
    return false;
}

void CloseHandle(CCIJobResults& store) {
    if (store.m_nFileHandle != -1) close(store.m_nFileHandle);
    store.m_nFileHandle = -1;
}

// Stops writing the current file; the next append creates a new one.
void DropWriterFile(CCIJobResults& store) {
    CloseHandle(store);
    store.m_bHeaderWritten = false;
}

void Fail(CCIJobResults& store, std::string_view message, int error) {
    store.m_nErrno = error;
    store.m_sErrorMsg.assign(message.data(), message.size());
}

// The file cannot be continued at a known trailer: finish it where the
// trailer stands, then leave it.
void FinishAndDrop(CCIJobResults& store, off64_t trailer) {
    jobresults::FinishAt(store.m_nFileHandle, trailer);
    DropWriterFile(store);
}

// A new file whose first record was not acknowledged goes, name and all.
void DiscardNewFile(CCIJobResults& store, const jobresults::CreatedFile& created) {
    DropWriterFile(store);
    if (!created.anonymous) unlink(created.path.c_str());
}

bool NameMustBeDurable(const CCIJobResults& store) {
    return store.m_nFileSyncLevel != JobResultsSync::kNone;
}

// The file in progress on the disk, its name too when withName. A failure
// leaves the file, finished (see syncJobResults).
int SyncFileInProgress(CCIJobResults& store, bool withName) {
    int error = jobresults::SyncData(store.m_nFileHandle);
    if (error == 0 && withName) {
        error = jobresults::SyncHoldingDirectory(
            jobresults::CreationPath(store.m_sDirName, store.m_sFileName, 0));
    }
    if (error == 0) return 1;
    Fail(store, messages::kSyncFailed, error);
    const off64_t trailer = lseek64(store.m_nFileHandle, 0, SEEK_CUR);
    if (trailer >= 0) {
        FinishAndDrop(store, trailer);
    } else {
        DropWriterFile(store);
    }
    return 0;
}

void FailCreation(CCIJobResults& store, const std::string& path, int error) {
    store.m_sErrorMsg = messages::CreationFailed(path);
    // m_nErrno keeps its value on this failure; errno tells the reason.
    errno = error;
}

// The first write carries header, record and trailer into the new, empty
// file. If it fails, the file goes: no file without its header is left. A
// file created without a name gets it only now, with its first record in
// it, so that a name never shows a file that does not read. Unless the
// level is kNone, the data is on the disk before the name is made, and the
// name before the call returns: a power loss then leaves the file with its
// first record, or no file.
int WriteFirst(CCIJobResults& store, jobresults::ComposedAppend& data,
               jobresults::CreatedFile& created, long long seconds) {
    if (const int error =
            jobresults::WriteAllAt(store.m_nFileHandle, data.Data(), data.Size(), 0)) {
        DiscardNewFile(store, created);
        Fail(store, messages::kWriteFailed, error);
        return 0;
    }
    if (const int error =
            NameMustBeDurable(store) ? jobresults::SyncData(store.m_nFileHandle) : 0) {
        DiscardNewFile(store, created);
        Fail(store, messages::kSyncFailed, error);
        return 0;
    }
    if (created.anonymous &&
        jobresults::NameCreatedFile(created, store.m_sDirName, store.m_sFileName, seconds) != 0) {
        DropWriterFile(store);
        FailCreation(store, created.path, created.error);
        return 0;
    }
    if (const int error =
            NameMustBeDurable(store) ? jobresults::SyncHoldingDirectory(created.path) : 0) {
        DiscardNewFile(store, created);
        Fail(store, messages::kSyncFailed, error);
        return 0;
    }
    const off64_t trailer = static_cast<off64_t>(data.Size() - jobresults::kTrailer.size());
    if (lseek64(store.m_nFileHandle, trailer, SEEK_SET) < 0) {
        const int error = errno;
        Fail(store, messages::kSeekFailed, error);
        FinishAndDrop(store, trailer);
        return 0;
    }
    return 1;
}

int WriteNext(CCIJobResults& store, jobresults::ComposedAppend& data) {
    const jobresults::AppendOutcome outcome =
        jobresults::AppendOverTrailer(store.m_nFileHandle, data.Data(), data.Size(),
                                      store.m_nFileSyncLevel == JobResultsSync::kAppend);
    switch (outcome.status) {
        case AppendStatus::kDone:
            return 1;
        case AppendStatus::kWriteFailed:
            Fail(store, messages::kWriteFailed, outcome.error);
            return 0;
        case AppendStatus::kAbandoned:
            Fail(store, messages::kWriteFailed, outcome.error);
            DropWriterFile(store);
            return 0;
        case AppendStatus::kSeekFailed:
            Fail(store, messages::kSeekFailed, outcome.error);
            FinishAndDrop(store, outcome.trailer);
            return 0;
        case AppendStatus::kNoPosition:
            Fail(store, messages::kSeekFailed, outcome.error);
            return 0;
        case AppendStatus::kSyncFailed:
            Fail(store, messages::kSyncFailed, outcome.error);
            FinishAndDrop(store, outcome.trailer);
            return 0;
    }
    return 0;
}

// A writer's file still in progress is saved before the object turns to
// reading; if the save fails the file, complete as it stands, is left.
void FinishWriting(CCIJobResults& store) {
    if (store.m_bHeaderWritten && store.m_nFileHandle != -1 && store.saveJobResults() != 1) {
        DropWriterFile(store);
    }
    CloseHandle(store);
}

}  // namespace

CCIJobResults::CCIJobResults()
    : m_nFileHandle(-1),
      m_nErrno(0),
      m_bHeaderWritten(false),
      m_bSaved(false),
      m_nSyncLevel(JobResultsSync::kFromEnvironment),
      m_nFileSyncLevel(JobResultsSync::kNone),
      m_itCurrent() {}

CCIJobResults::~CCIJobResults() {
    saveJobResults();
    CloseHandle(*this);
}

// By value: the exported signature is fixed.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
int CCIJobResults::createJobResults(std::string sDirName) {
    if (sDirName.empty()) {
        m_sErrorMsg = messages::InvalidDirectoryName(sDirName);
        return 0;
    }
    m_sDirName.append(sDirName);
    m_sFileName = jobresults::kBaseFileName;
    return 1;
}

// By value: the exported signature is fixed.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
int CCIJobResults::addJobResult(JobResults jobResult) {
    if (RefuseUnstorableValue(*this, jobResult)) return 0;
    jobresults::CreatedFile created;
    const long long seconds = qxcast::lld(std::time(nullptr));
    if (!m_bHeaderWritten) {
        if (m_sDirName.empty()) {
            m_sErrorMsg = messages::DirectoryNameNotSet(m_sDirName);
            return 0;
        }
        if (m_sFileName.empty()) {
            m_sErrorMsg = messages::FileNameNotSet(m_sFileName);
            return 0;
        }
        if (m_nFileHandle != -1) {
            m_sErrorMsg = messages::kHandleWithoutFile;
            return 0;
        }
        std::string refused;
        if (!jobresults::LevelForNewFile(m_nSyncLevel, m_nFileSyncLevel, refused)) {
            Fail(*this, messages::UnknownSyncLevel(jobresults::kSyncVariable, refused), EINVAL);
            return 0;
        }
        created = jobresults::CreateJobResultsFile(m_sDirName, m_sFileName, seconds);
        if (created.fd == -1) {
            FailCreation(*this, created.path, created.error);
            return 0;
        }
        m_nFileHandle = created.fd;
        m_bHeaderWritten = true;
    }
    if (m_nFileHandle == -1) {
        m_sErrorMsg = messages::kAppendWithoutHandle;
        return 0;
    }
    const bool isNewFile = created.fd != -1;
    jobresults::ComposedAppend data(jobResult, isNewFile);
    return isNewFile ? WriteFirst(*this, data, created, seconds) : WriteNext(*this, data);
}

int CCIJobResults::saveJobResults() {
    if (!m_bHeaderWritten) return 1;
    if (m_nFileHandle == -1) {
        m_sErrorMsg = messages::kSaveWithoutHandle;
        return 0;
    }
    const off64_t trailer = lseek64(m_nFileHandle, 0, SEEK_CUR);
    const bool durable = m_nFileSyncLevel == JobResultsSync::kAppend;
    const jobresults::FinishOutcome finish =
        trailer < 0 ? jobresults::FinishOutcome{errno, false}
                    : jobresults::FinishAt(m_nFileHandle, trailer, durable);
    if (finish.syncFailed) {
        // The sync is the finish's last step: the file is finished, and is
        // left with the failure told, since syncing it again could not be
        // trusted.
        Fail(*this, messages::kSyncFailed, finish.error);
    } else if (finish.error != 0) {
        // The file stays open and complete; a later save finishes it.
        Fail(*this, messages::kFinishFailed, finish.error);
        return 0;
    }
    CloseHandle(*this);
    m_bSaved = true;
    m_bHeaderWritten = false;
    return finish.syncFailed ? 0 : 1;
}

int CCIJobResults::setSyncLevel(JobResultsSync level) {
    if (static_cast<unsigned char>(level) > static_cast<unsigned char>(JobResultsSync::kAppend)) {
        Fail(*this, messages::kInvalidSyncLevel, EINVAL);
        return 0;
    }
    m_nSyncLevel = level;
    if (!m_bHeaderWritten || m_nFileHandle == -1 || level == JobResultsSync::kFromEnvironment) {
        return 1;
    }
    // What the file holds so far gets the promise of the higher level too.
    if (level > m_nFileSyncLevel && syncJobResults() != 1) return 0;
    m_nFileSyncLevel = level;
    return 1;
}

int CCIJobResults::syncJobResults() {
    if (!m_bHeaderWritten || m_nFileHandle == -1) return 1;
    if (SyncFileInProgress(*this, !NameMustBeDurable(*this)) != 1) return 0;
    // The name is on the disk now: later calls sync the data alone.
    if (m_nFileSyncLevel == JobResultsSync::kNone) m_nFileSyncLevel = JobResultsSync::kName;
    return 1;
}

std::string CCIJobResults::getJobResultsFilePath() const {
    if (!m_bHeaderWritten || m_nFileHandle == -1) return "";
    return jobresults::PathOfOpenFile(m_sDirName, m_sFileName, m_nFileHandle);
}

int CCIJobResults::openJobResults(std::string sDirName, std::string sFileName) {
    if (sDirName.empty() || sFileName.empty()) return 0;
    FinishWriting(*this);
    m_sDirName = std::move(sDirName);
    m_sFileName = std::move(sFileName);
    const std::string path = jobresults::JoinResultsPath(m_sDirName, m_sFileName);

    m_nFileHandle = jobresults::FileWindow::OpenToRead(path);
    if (m_nFileHandle == -1) {
        const int error = errno;
        Fail(*this, std::string(messages::OpenRefusedHead(error)) + path, error);
        return 0;
    }
    std::vector<XmlNode> children;
    jobresults::FileWindow window(m_nFileHandle);
    const int result = jobresults::ReadRootChildren(window, children);
    if (result == jobresults::kInvalidContent) {
        Fail(*this, std::string(messages::kInvalidData) + path, -1);
        return 0;
    }
    if (result != 0) {
        Fail(*this, std::string(messages::kReadFailed) + path, result);
        return 0;
    }
    m_vJobResultNodes.swap(children);
    m_itCurrent = m_vJobResultNodes.begin();
    return 1;
}

int CCIJobResults::getNextJobResult(JobResults& jobResult) {
    if (m_nFileHandle == -1) {
        m_sErrorMsg = messages::NoHandle(m_sFileName);
        return -1;
    }
    const auto end = m_vJobResultNodes.end();
    while (m_itCurrent != end && m_itCurrent->GetTagName() != jobresults::kRecordTag) {
        ++m_itCurrent;
    }
    if (m_itCurrent == end) {
        Fail(*this, std::string(messages::kNoRecords) + m_sFileName, -1);
        return -1;
    }
    if (!jobresults::FillRecord(m_itCurrent->GetNodeContent(), jobResult)) {
        // A torn record: neither it nor anything behind it is delivered.
        m_itCurrent = end;
        Fail(*this, std::string(messages::kNoRecords) + m_sFileName, -1);
        return -1;
    }
    ++m_itCurrent;
    if (m_itCurrent != end) return 1;
    CloseHandle(*this);
    return 0;
}

int CCIJobResults::closeJobResults() {
    // A writer's file in progress is left to saveJobResults.
    if (!m_bHeaderWritten) CloseHandle(*this);
    return 1;
}
