// The bytes of a job results file: the fixed header and one record per
// result; the names, the trailer and the final end tag are public, in
// jobresults/JobResultsNames.h.
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_JOBRESULTSFORMAT_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_JOBRESULTSFORMAT_H

#include <memory>
#include <string>
#include <string_view>

#include "jobresults/JobResultsNames.h"
#include "jobresults/JobResultsRecord.h"

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

// Whether `header` declares the record's fields as kRecordFields lists
// them: the record's content model names them in order, and each has a
// declaration of its own.
constexpr bool DeclaresRecordFields(std::string_view header) {
    const std::string_view model = "<!ELEMENT JobResult";
    size_t at = header.find(model);
    if (at == std::string_view::npos) return false;
    at = header.find('(', at);
    for (size_t i = 0; i < kRecordFieldCount; ++i) {
        const std::string_view tag = kRecordFields[i].tag;
        const std::string_view separator = i + 1 < kRecordFieldCount ? ", " : ")";
        if (at == std::string_view::npos || header.compare(at + 1, tag.size(), tag) != 0 ||
            header.compare(at + 1 + tag.size(), separator.size(), separator) != 0) {
            return false;
        }
        at += tag.size() + separator.size();
        size_t declaration = header.find("<!ELEMENT ");
        while (declaration != std::string_view::npos &&
               !(header.compare(declaration + 10, tag.size(), tag) == 0 &&
                 header[declaration + 10 + tag.size()] == '\t')) {
            declaration = header.find("<!ELEMENT ", declaration + 1);
        }
        if (declaration == std::string_view::npos) return false;
    }
    return true;
}
static_assert(DeclaresRecordFields(kHeader), "the header declares the record's fields");

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

// Whether the content of a Size element (between "<Size>" and "</Size>")
// is what a writer puts there: a line break, the shortest decimal digits of
// an unsigned 64-bit number (no sign, no leading zero), a line break. Then
// size holds the number; otherwise it is untouched. No other Size comes
// from a writer, so the readers and the check take any other for damage.
bool ReadWrittenSize(std::string_view content, unsigned long long& size);

// dir + "\\" + base + "_" + seconds + ".xml". The backslash is part of the
// name on every platform, so writer and reader always agree.
std::string CreationPath(const std::string& dirName, const std::string& baseName,
                         long long seconds);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_JOBRESULTSFORMAT_H
