// Job results store: appends backup job results to an XML file that is a
// complete document after every append, and reads them back one by one.
//
// Writer: createJobResults(dir); addJobResult(record) any number of times;
// saveJobResults() (the destructor saves too). The file is created on the
// first append as  dir + "\\" + "ci_push_<seconds>.xml"  (a backslash on
// every platform, so on POSIX it is part of the file name).
//
// Reader: openJobResults(dir, "ci_push_<seconds>.xml"); getNextJobResult()
// while it returns 1; it returns 0 with the last record, -1 with none.
// Its verdicts are those hand-made files and their callers rely on; the
// stricter judge is the check of a file (jobresults::CheckResultsFile in
// JobResultsCheck.h, `jobresults check`), which calls damage any byte a
// writer of this library does not leave, and JobResultsReader reads under
// it with setStrict(true).
//
// Success flags are 1 and 0. After a failure m_sErrorMsg holds its text and
// m_nErrno the errno of a failed system call (-1 for invalid file content);
// neither is cleared by a later success. A failed creation of the file
// leaves m_nErrno as it was; errno then holds the reason. No function
// throws.
//
// The public data members, their order and types are part of the binary
// contract: callers allocate this object.
#ifndef CIJOBRESULTS_JOBRESULTS_CIJOBRESULTS_H
#define CIJOBRESULTS_JOBRESULTS_CIJOBRESULTS_H

#include <string>
#include <vector>

#include "jobresults/JobResultsRecord.h"
#include "jobresults/JobResultsSync.h"
#include "xml/LibraryExport.h"
#include "xml/XmlNode.h"

class CIJOBRESULTS_API CCIJobResults {
public:
    CCIJobResults();
    // Saves a file still being written (see saveJobResults) and releases
    // any descriptor held.
    ~CCIJobResults();

    // The object holds a file descriptor: it is neither copied nor moved.
    CCIJobResults(const CCIJobResults&) = delete;
    CCIJobResults& operator=(const CCIJobResults&) = delete;

    // --- writing --------------------------------------------------------
    // Appends sDirName to the directory name and sets the base file name.
    int createJobResults(std::string sDirName);
    // Appends one record; the first call creates the file and writes the
    // header with it. A value holding a tag of the format's own elements
    // ("</Url>", "<JobResult>", "</Root>", ...), which could not be read
    // back as written, is refused first: 0, m_nErrno EINVAL, nothing
    // written. Where the file system can create a file without a name, the
    // file's name appears only with header and record in it; elsewhere the
    // name is created with the file, empty until that first write. On
    // success the record is handed to the kernel and the file is a complete
    // document: a killed process loses nothing acknowledged; what a power
    // loss may cost depends on the sync level (JobResultsSync above). A
    // failed append leaves the file as it was before the call. When the
    // file is created, an unknown CIJOBRESULTS_SYNC is refused: 0, EINVAL,
    // nothing written. A failed sync returns 0 with the record taken back;
    // the file is finished and the next append creates a new one.
    int addJobResult(JobResults jobResult);
    // Writes the final end tag and closes the file in progress; at level
    // kAppend the finished file is synced before it returns 1.
    int saveJobResults();
    // The level for files this writer creates from now on. A file in
    // progress takes the new level at once: raising it to kName or kAppend
    // syncs the file and its name first (0 when that fails, as
    // syncJobResults). 0 with EINVAL for a value outside the enum.
    int setSyncLevel(JobResultsSync level);
    // Group commit: every record appended so far, and the file's name, on
    // the disk before it returns 1 (1 too when no file is open). Append a
    // batch at level kName or kNone, then call this once: a reader beside
    // sees each record as it is appended, and the whole batch survives a
    // power loss once this returns 1. A failed sync returns 0 with the
    // errno; the records stay in the file, but whether they reached the disk
    // is unknown, and since a file's later syncs cannot be trusted after a
    // failure, the writer finishes the file and the next append creates a
    // new one.
    int syncJobResults();
    // The whole path of the file being written (directory name, "\\",
    // file name), as the store named it: empty when no file is open, that
    // is before the first successful addJobResult and after the save. A
    // caller that needs the path after the save asks before it. The name
    // is found by the open descriptor among the files of the directory, so
    // it is right whichever second the name carries.
    std::string getJobResultsFilePath() const;

    // --- reading --------------------------------------------------------
    // Loads the file sDirName + "\\" + sFileName (opened read-only).
    int openJobResults(std::string sDirName, std::string sFileName);
    // 1: record delivered, more follow; 0: last record delivered, file
    // closed; -1: no record. Fields missing in the file keep their value.
    // Damage inside Root (an element that is not closed) ends the records
    // where it begins: the record in front of it comes with 1, the next
    // call gives -1 ("Invalid data/No Data found ...", m_nErrno -1), and a
    // torn record is never delivered. The node list then ends in a node
    // with an empty tag name.
    int getNextJobResult(JobResults& jobResult);
    // Releases the reader's descriptor; returns 1.
    int closeJobResults();

    std::string m_sDirName;
    std::string m_sFileName;
    int m_nFileHandle;
    int m_nErrno;
    bool m_bHeaderWritten;
    std::string m_sErrorMsg;
    bool m_bSaved;
    // Added in 1.x into the padding in front of m_vJobResultNodes: the
    // object's size and every member's offset stay as they were, and the
    // constructor, which sets them, is the library's own.
    JobResultsSync m_nSyncLevel;      // chosen by setSyncLevel
    JobResultsSync m_nFileSyncLevel;  // in force for the file in progress
    std::vector<XmlNode> m_vJobResultNodes;
    std::vector<XmlNode>::iterator m_itCurrent;
};

#endif  // CIJOBRESULTS_JOBRESULTS_CIJOBRESULTS_H
