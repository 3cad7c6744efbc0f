// The bytes of a job results file: the fixed header, one record per result,
// the trailer that closes the document after every append, and the final
// end tag of a saved file.
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_JOBRESULTSFORMAT_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_JOBRESULTSFORMAT_H

#include <memory>
#include <string>
#include <string_view>

#include "jobresults/cijobresults.h"

namespace jobresults {

// XML declaration, document type with its element declarations, and the
// Root start tag followed by an empty line.
inline constexpr std::string_view kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE Root [\n"
    "\t<!ELEMENT Root\t\t\t\t    (JobResult+)>\n"
    "\t<!ELEMENT JobResult\t\t\t  (ClientName, Url, BackupJobId, ErrorString, Size)>\n"
    "\t<!ELEMENT ClientName\t\t\t(#PCDATA)>\n"
    "\t<!ELEMENT Url\t\t\t        (#PCDATA)>\n"
    "\t<!ELEMENT BackupJobId\t\t\t(#PCDATA)>\n"
    "\t<!ELEMENT ErrorString\t\t\t(#PCDATA)>\n"
    "\t<!ELEMENT Size\t\t\t(#PCDATA)>\n"
    "]>\n\n"
    "<Root>\n\n";
static_assert(kHeader.size() == 353, "the header of a job results file is 353 bytes");

// Closes the document after every append; the next append overwrites it.
inline constexpr std::string_view kTrailer = "</Root>";
// Replaces the trailer when the file is saved.
inline constexpr std::string_view kFinalEndTag = "\n\n</Root>";

// A file's name: kBaseFileName + kTimeSeparator + seconds since the epoch +
// kExtension, behind the directory name and kDirectorySeparator.
inline constexpr std::string_view kBaseFileName = "ci_push";
inline constexpr char kTimeSeparator = '_';
inline constexpr std::string_view kExtension = ".xml";
inline constexpr char kDirectorySeparator = '\\';

inline constexpr std::string_view kRecordTag = "JobResult";
inline constexpr std::string_view kRootTag = "Root";
inline constexpr std::string_view kClientNameTag = "ClientName";
inline constexpr std::string_view kUrlTag = "Url";
inline constexpr std::string_view kBackupJobIdTag = "BackupJobId";
inline constexpr std::string_view kErrorStringTag = "ErrorString";
inline constexpr std::string_view kSizeTag = "Size";

// The bytes one append writes: the header when the file is new, the
// JobResult element of the result (byte for byte the text that the element
// output of XmlNode gives for it), and the trailer. Composed once into a
// buffer of the exact size, on the stack unless the record is large.
class ComposedAppend {
public:
    ComposedAppend(const JobResults& result, bool withHeader);
    ComposedAppend(const ComposedAppend&) = delete;
    ComposedAppend& operator=(const ComposedAppend&) = delete;

    char* Data() { return m_data; }
    size_t Size() const { return m_size; }
    std::string_view Text() const { return std::string_view(m_data, m_size); }

private:
    static constexpr size_t kInlineSize = 4096;
    char m_inline[kInlineSize];
    std::unique_ptr<char[]> m_large;
    char* m_data = m_inline;
    size_t m_size = 0;
};

// dir + "\\" + base + "_" + seconds + ".xml". The backslash is part of the
// name on every platform, so writer and reader always agree.
std::string CreationPath(const std::string& dirName, const std::string& baseName,
                         long long seconds);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_JOBRESULTSFORMAT_H
