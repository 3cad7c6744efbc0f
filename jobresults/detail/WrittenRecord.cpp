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
#include <utility>

#include "jobresults/detail/JobResultsFormat.h"
#include "jobresults/detail/JobResultsLayout.h"
#include "xml/detail/XmlScan.h"
#include "xml/detail/XmlSimd.h"

namespace jobresults {
namespace {

using std::string_view;
constexpr size_t npos = string_view::npos;
using xmlscan::StartsWith;

#define JR_TAKE(expression)                               \
    do {                                                  \
        const LayoutMatch jrMatch = (expression);         \
        if (jrMatch != LayoutMatch::kYes) return jrMatch; \
    } while (false)

// An element's tags as the writer writes them: "<name>\n", "<name />\n"
// and "</name>", each taken as one literal.
struct WrittenTags {
    char open[24] = {};
    char empty[24] = {};
    char close[24] = {};
    size_t nameSize = 0;

    string_view Open() const { return string_view(open, nameSize + 3); }
    string_view Empty() const { return string_view(empty, nameSize + 5); }
    string_view Close() const { return string_view(close, nameSize + 3); }
};

constexpr WrittenTags TagsOf(string_view name) {
    WrittenTags tags;
    tags.nameSize = name.size();
    tags.open[0] = tags.empty[0] = tags.close[0] = '<';
    tags.close[1] = '/';
    for (size_t i = 0; i < name.size(); ++i) {
        tags.open[1 + i] = tags.empty[1 + i] = tags.close[2 + i] = name[i];
    }
    const size_t behind = 1 + name.size();
    tags.open[behind] = '>';
    tags.open[behind + 1] = '\n';
    tags.empty[behind] = ' ';
    tags.empty[behind + 1] = '/';
    tags.empty[behind + 2] = '>';
    tags.empty[behind + 3] = '\n';
    tags.close[behind + 1] = '>';
    return tags;
}

constexpr WrittenTags kRecordTags = TagsOf(kRecordTag);
constexpr WrittenTags kFieldTags[] = {TagsOf(kClientNameTag), TagsOf(kUrlTag),
                                      TagsOf(kBackupJobIdTag), TagsOf(kErrorStringTag),
                                      TagsOf(kSizeTag)};
constexpr size_t kFieldCount = std::size(kFieldTags);
static_assert(kLongestFormatTag < sizeof WrittenTags{}.open, "every tag fits");

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

// tags.Open() + content + tags.Close() + "\n", or tags.Empty(); content is
// "\n" + raw, empty for the self-closing form. One instance per field, so
// that each tag is a constant and its comparison a load or two.
template <size_t kField>
LayoutMatch TakeField(LayoutCursor& cursor, string_view& content) {
    constexpr const WrittenTags& tags = kFieldTags[kField];
    content = string_view();
    const LayoutMatch open = cursor.Take(tags.Open());
    if (open == LayoutMatch::kNo) return cursor.Take(tags.Empty());
    if (open == LayoutMatch::kMore) return open;
    // The raw text runs to the first tag of the format's own elements,
    // which must be the field's end tag: a value holding another is
    // unstorable. One look at each "<" finds both.
    const string_view text = cursor.text;
    const size_t begin = cursor.at - 1;
    size_t end = npos;
    // A NUL byte stops the same search: no value holds one.
    for (size_t lt = xmlscan::FindCharOrNul<'<'>(text, cursor.at); lt != npos;
         lt = xmlscan::FindCharOrNul<'<'>(text, lt + 1)) {
        if (text[lt] == '\0') return LayoutMatch::kNo;
        LayoutCursor probe{text, lt, true};
        if (probe.Take(tags.Close()) == LayoutMatch::kYes) {
            end = lt;
            break;
        }
        if (FormatTagAt(text.substr(lt)) != 0) return LayoutMatch::kNo;
    }
    content = text.substr(begin, end == npos ? npos : end - begin);
    if (end == npos) {
        if (cursor.atEnd) return LayoutMatch::kNo;
        // A Size cut short is no match unless a writer may still be
        // writing it.
        if constexpr (kField + 1 == kFieldCount) {
            if (!MayBeWrittenSize(content)) return LayoutMatch::kNo;
        }
        return LayoutMatch::kMore;
    }
    if (content.size() < 2 || content.back() != '\n') return LayoutMatch::kNo;
    cursor.at = end + tags.Close().size();
    if (cursor.at == text.size()) return cursor.atEnd ? LayoutMatch::kNo : LayoutMatch::kMore;
    if (text[cursor.at] != '\n') return LayoutMatch::kNo;
    ++cursor.at;
    return LayoutMatch::kYes;
}

// The five fields in the writer's order, up to the first that is not
// matched.
template <size_t... kField>
LayoutMatch TakeFields(LayoutCursor& cursor, string_view (&contents)[kFieldCount],
                       std::index_sequence<kField...>) {
    LayoutMatch match = LayoutMatch::kYes;
    static_cast<void>(
        (((match = TakeField<kField>(cursor, contents[kField])) == LayoutMatch::kYes) && ...));
    return match;
}

}  // namespace

LayoutMatch TakeWrittenRecord(LayoutCursor& cursor, JobResults& record) {
    JR_TAKE(cursor.Take(kRecordTags.Open()));
    string_view contents[kFieldCount];
    JR_TAKE(TakeFields(cursor, contents, std::make_index_sequence<kFieldCount>()));
    unsigned long long size = 0;
    if (!ReadWrittenSize(contents[kFieldCount - 1], size)) return LayoutMatch::kNo;
    JR_TAKE(cursor.Take(kRecordTags.Close()));
    if (cursor.at == cursor.text.size() && !cursor.atEnd) return LayoutMatch::kMore;
    if (cursor.at < cursor.text.size() && cursor.text[cursor.at] == '\n') ++cursor.at;
    std::string* const strings[] = {&record.ClientName, &record.Url, &record.BackupJobId,
                                    &record.ErrorString};
    for (size_t i = 0; i < std::size(strings); ++i) {
        // Past the line breaks the writer puts around every raw text.
        const string_view value =
            contents[i].empty() ? contents[i]
                                : xmlscan::Trim(contents[i].substr(1, contents[i].size() - 2));
        strings[i]->assign(value.data(), value.size());
    }
    record.Size = size;
    return LayoutMatch::kYes;
}

#undef JR_TAKE

}  // namespace jobresults
