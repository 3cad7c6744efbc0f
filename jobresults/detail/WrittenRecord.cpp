// Each record is "<JobResult>\n", five fields in a fixed order, each
// "<F />\n" (empty value) or "<F>\n" + raw + "</F>\n", where raw is the
// value with "\n" added unless it ends in one, then "</JobResult>\n"; Size
// is never empty and holds what ReadWrittenSize reads. The writer refuses
// values that hold a tag of the format's own elements or a NUL byte
// (IsUnstorableValue), so a field's raw text runs to the first "</F>" and
// holds neither.
#include "jobresults/detail/WrittenRecord.h"

#include <iterator>
#include <string>

#include "jobresults/detail/JobResultsFormat.h"
#include "jobresults/detail/JobResultsLayout.h"
#include "xml/detail/XmlScan.h"

namespace jobresults {
namespace {

using std::string_view;
constexpr size_t npos = string_view::npos;
using xmlscan::StartsWith;

constexpr string_view kFieldTags[] = {kClientNameTag, kUrlTag, kBackupJobIdTag, kErrorStringTag,
                                      kSizeTag};
constexpr size_t kFieldCount = std::size(kFieldTags);

#define JR_TAKE(expression)                               \
    do {                                                  \
        const LayoutMatch jrMatch = (expression);         \
        if (jrMatch != LayoutMatch::kYes) return jrMatch; \
    } while (false)

// "<" + name + (" />\n" | ">" + content + "</" + name + ">\n"), content
// being "\n" + raw. An empty content stands for the self-closing form.
LayoutMatch TakeField(LayoutCursor& cursor, string_view name, string_view& content) {
    JR_TAKE(cursor.Take("<"));
    JR_TAKE(cursor.Take(name));
    LayoutCursor probe = cursor;
    const LayoutMatch selfClosing = probe.Take(" />\n");
    if (selfClosing != LayoutMatch::kNo) {
        if (selfClosing == LayoutMatch::kYes) cursor = probe;
        content = string_view();
        return selfClosing;
    }
    JR_TAKE(cursor.Take(">\n"));
    const size_t begin = cursor.at - 1;
    size_t end = begin;
    // "</" + name + ">" without building it: the first "</name" that a ">"
    // follows.
    for (end = xmlscan::Find(cursor.text, "</", end); end != npos;
         end = xmlscan::Find(cursor.text, "</", end + 1)) {
        const string_view tag = cursor.text.substr(end + 2);
        if (StartsWith(tag, name) && tag.substr(name.size(), 1) == ">") break;
    }
    content = cursor.text.substr(begin, end == npos ? string_view::npos : end - begin);
    if (IsUnstorableValue(content)) return LayoutMatch::kNo;
    if (end == npos) return cursor.atEnd ? LayoutMatch::kNo : LayoutMatch::kMore;
    if (content.size() < 2 || content.back() != '\n') return LayoutMatch::kNo;
    cursor.at = end + name.size() + 3;
    return cursor.Take("\n");
}

// Whether a Size's content cut short by the end of the text, its end tag
// perhaps begun, may still be what a writer writes there: a line break,
// digits, then the first bytes of a line break and the end tag.
bool MayBeWrittenSize(string_view partial) {
    if (partial.empty()) return true;
    size_t digits = 1;
    while (digits < partial.size() && partial[digits] >= '0' && partial[digits] <= '9') ++digits;
    const string_view rest = partial.substr(digits);
    const std::string end = "\n</" + std::string(kSizeTag) + ">";
    return (digits > 1 || rest.empty()) && StartsWith(end, rest);
}

}  // namespace

LayoutMatch TakeWrittenRecord(LayoutCursor& cursor, JobResults& record) {
    JR_TAKE(cursor.Take("<"));
    JR_TAKE(cursor.Take(kRecordTag));
    JR_TAKE(cursor.Take(">\n"));
    string_view contents[kFieldCount];
    for (size_t i = 0; i < kFieldCount; ++i) {
        const LayoutMatch field = TakeField(cursor, kFieldTags[i], contents[i]);
        if (field == LayoutMatch::kMore && i + 1 == kFieldCount && !MayBeWrittenSize(contents[i])) {
            return LayoutMatch::kNo;
        }
        JR_TAKE(field);
    }
    unsigned long long size = 0;
    if (!ReadWrittenSize(contents[kFieldCount - 1], size)) return LayoutMatch::kNo;
    JR_TAKE(cursor.Take("</"));
    JR_TAKE(cursor.Take(kRecordTag));
    JR_TAKE(cursor.Take(">"));
    if (cursor.at == cursor.text.size() && !cursor.atEnd) return LayoutMatch::kMore;
    if (cursor.at < cursor.text.size() && cursor.text[cursor.at] == '\n') ++cursor.at;
    std::string* const strings[] = {&record.ClientName, &record.Url, &record.BackupJobId,
                                    &record.ErrorString};
    for (size_t i = 0; i < std::size(strings); ++i) {
        const string_view value = xmlscan::Trim(contents[i]);
        strings[i]->assign(value.data(), value.size());
    }
    record.Size = size;
    return LayoutMatch::kYes;
}

#undef JR_TAKE

}  // namespace jobresults
