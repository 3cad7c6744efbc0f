#include "jobresults/detail/PlainRecord.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

#include "jobresults/detail/ElementScan.h"
#include "jobresults/detail/JobResultsFormat.h"
#include "jobresults/detail/JobResultsLayout.h"
#include "xml/detail/XmlScan.h"
#include "xml/detail/XmlSimd.h"

namespace jobresults {
namespace {

using elementscan::Content;
using elementscan::ElementWalker;
using elementscan::FindChar;
using elementscan::HoldsStrayText;
using elementscan::IsEndTagAt;
using elementscan::kSelfClosing;
using elementscan::Matches;
using elementscan::npos;
using elementscan::ScanLevel;
using std::string_view;
using xmlscan::IsBlank;
using xmlscan::Trim;

// sscanf "%llu" on the content: leading white space and a sign are allowed,
// "-1" wraps, too many digits give the largest value, no digits keep the
// field. Short plain digit strings, the usual case, are converted directly.
void ParseSize(string_view text, unsigned long long& size) {
    constexpr size_t kSafeDigits = 19;
    if (!text.empty() && text.size() <= kSafeDigits) {
        unsigned long long value = 0;
        size_t i = 0;
        for (; i < text.size(); ++i) {
            const unsigned digit = static_cast<unsigned char>(text[i]) - unsigned{'0'};
            if (digit > 9) break;
            value = value * 10 + digit;
        }
        if (i == text.size()) {
            size = value;
            return;
        }
    }
    const std::string terminated(text);
    unsigned long long value = 0;
    if (std::sscanf(terminated.c_str(), "%llu", &value) == 1) size = value;
}

// The field named `name`, if it is one, gets value: a number by the
// "%llu" rules of ParseSize.
void AssignField(string_view name, string_view value, JobResults& result) {
    for (const RecordField& field : kRecordFields) {
        if (name != field.tag) continue;
        if (field.kind == FieldKind::kNumber) {
            ParseSize(value, result.*field.number);
        } else {
            (result.*field.text).assign(value.data(), value.size());
        }
        return;
    }
}

// The element whose "<" stands at open, when it is "<name>", a value with
// no "<" nor NUL byte, and "</name>": the position of the end tag's "<", else npos. The
// general scan gives such an element the same content: its first ">" ends
// the tag, and the first "<" behind it starts the first "</name>". The name
// is a template argument so that its compares are a few fixed-size loads.
template <size_t kField>
size_t CutPlainField(string_view text, size_t open) {
    constexpr string_view kName = kRecordFields[kField].tag;
    constexpr size_t kLength = kName.size();
    if (text.size() - open < 2 * kLength + 5) return npos;
    const char* start = text.data() + open;
    if (start[kLength + 1] != '>' || std::memcmp(start + 1, kName.data(), kLength) != 0)
        return npos;
    // A NUL byte in the value leaves the short way: it is damage, which the
    // general scan reports.
    const size_t end = xmlscan::FindCharOrNul<'<'>(text, open + kLength + 2);
    if (end == npos || text[end] != '<' || text.size() - end < kLength + 3) return npos;
    const char* tag = text.data() + end;
    if (tag[1] != '/' || tag[kLength + 2] != '>' ||
        std::memcmp(tag + 2, kName.data(), kLength) != 0) {
        return npos;
    }
    return end;
}

// The "<" at pos when only blanks stand in front of it (the writer puts one
// line break between elements), else npos: anything else between elements
// takes the general scan.
size_t NextOpenAfterBlanks(string_view text, size_t pos) {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    return pos < text.size() && text[pos] == '<' ? pos : npos;
}

// Whether "<" + name + " />", the writer's form of an empty field, stands
// at open. The general scan reads it as a self-closing element of that
// name: empty content, the scan going on behind its ">".
template <size_t kField>
bool IsEmptyField(string_view text, size_t open) {
    constexpr string_view kName = kRecordFields[kField].tag;
    constexpr size_t kLength = kName.size();
    if (text.size() - open < kLength + 4) return false;
    const char* start = text.data() + open;
    return start[kLength + 1] == ' ' && start[kLength + 2] == '/' && start[kLength + 3] == '>' &&
           std::memcmp(start + 1, kName.data(), kLength) == 0;
}

// The next element from pos, when it is the field kName in one of the
// writer's two forms: its trimmed value goes to value and pos moves past it.
template <size_t kField>
bool TakePlainField(string_view content, size_t& pos, string_view& value) {
    constexpr string_view kName = kRecordFields[kField].tag;
    const size_t open = NextOpenAfterBlanks(content, pos);
    if (open == npos) return false;
    if (IsEmptyField<kField>(content, open)) {
        value = string_view();
        pos = open + kName.size() + 4;
        return true;
    }
    const size_t end = CutPlainField<kField>(content, open);
    if (end == npos) return false;
    const size_t valueBegin = open + kName.size() + 2;
    value = Trim(content.substr(valueBegin, end - valueBegin));
    pos = end + kName.size() + 3;  // behind "</name>", which holds no other "<"
    return true;
}

// The writer's fields in its order, each in one of its two forms, from pos
// on: how many of them stand there in a row. values[i] is the trimmed value
// of field i for each of them; pos moves behind the last.
constexpr size_t kFieldCount = kRecordFieldCount;
using FieldValues = string_view[kFieldCount];

template <size_t... kField>
size_t TakePlainFields(string_view content, size_t& pos, FieldValues& values,
                       std::index_sequence<kField...>) {
    size_t taken = 0;
    static_cast<void>(
        ((TakePlainField<kField>(content, pos, values[kField]) && (++taken, true)) && ...));
    return taken;
}

size_t TakePlainFields(string_view content, size_t& pos, FieldValues& values) {
    return TakePlainFields(content, pos, values, std::make_index_sequence<kFieldCount>());
}

// Field kField gets value: a number by the "%llu" rules of ParseSize. One
// instance per field, so that no table is looked up per record.
template <size_t kField>
void AssignValue(string_view value, JobResults& record) {
    constexpr RecordField kTheField = kRecordFields[kField];
    if constexpr (kTheField.kind == FieldKind::kNumber) {
        ParseSize(value, record.*kTheField.number);
    } else {
        (record.*kTheField.text).assign(value.data(), value.size());
    }
}

template <size_t... kField>
void AssignPlainFields(const FieldValues& values, JobResults& record,
                       std::index_sequence<kField...>) {
    (AssignValue<kField>(values[kField], record), ...);
}

// Assigns the first count values that TakePlainFields found.
void AssignPlainFields(const FieldValues& values, size_t count, JobResults& record) {
    if (count == kFieldCount) {
        return AssignPlainFields(values, record, std::make_index_sequence<kFieldCount>());
    }
    for (size_t i = 0; i < count; ++i) {
        const RecordField& field = kRecordFields[i];
        if (field.kind == FieldKind::kNumber) {
            ParseSize(values[i], record.*field.number);
        } else {
            (record.*field.text).assign(values[i].data(), values[i].size());
        }
    }
}

}  // namespace

bool CutPlainRecord(string_view text, size_t pos, JobResults& record, size_t& open,
                    size_t& endTag) {
    open = NextOpenAfterBlanks(text, pos);
    constexpr size_t kNameEnd = kRecordTag.size() + 1;
    if (open == npos || text.size() - open <= kNameEnd || text[open + kNameEnd] != '>' ||
        !Matches(text.data() + open + 1, kRecordTag)) {
        return false;
    }
    size_t at = open + kNameEnd + 1;
    FieldValues values;
    if (TakePlainFields(text, at, values) != kFieldCount) return false;
    const size_t end = NextOpenAfterBlanks(text, at);
    if (end == npos || !IsEndTagAt(text, end, kRecordTag)) return false;
    AssignPlainFields(values, record, std::make_index_sequence<kFieldCount>());
    endTag = end;
    return true;
}

bool FillRecord(string_view content, JobResults& result) {
    // The fields in the writer's order take the short way; the first
    // element that is not as the writer lays it out, and all after it, go
    // through the general scan, which first makes sure that the rest of the
    // content is whole before any field is assigned.
    size_t pos = 0;
    FieldValues values;
    const size_t plain = TakePlainFields(content, pos, values);
    ElementWalker walker(content, string_view());
    if (plain < kFieldCount || FindChar<'<'>(content, pos) != npos ||
        HoldsStrayText(content.substr(pos))) {
        // A field whose value no writer stores (a format tag, a NUL byte), a
        // tag that holds a "<" (one whose ">" was damaged, swallowing the
        // tags up to the next ">": this record's end and the next record's
        // start), or text between the elements, is damage that a scan alone
        // does not see.
        bool storable = true;
        size_t gapFrom = pos;
        const size_t stopped = ScanLevel(
            walker, content, pos, [&](size_t open, size_t close, size_t end, string_view name) {
                storable = !HoldsStrayText(content.substr(gapFrom, open - gapFrom)) &&
                           FindChar<'<'>(content.substr(0, close), open + 1) == npos &&
                           (!IsFieldName(name) || !IsUnstorableValue(Content(content, close, end)));
                gapFrom = end == kSelfClosing ? close + 1 : end + name.size() + 3;
                return storable;
            });
        if (!storable || FindChar<'<'>(content, stopped) != npos ||
            HoldsStrayText(content.substr(std::min(gapFrom, content.size())))) {
            return false;
        }
    }
    AssignPlainFields(values, plain, result);
    ScanLevel(walker, content, pos, [&](size_t, size_t close, size_t end, string_view name) {
        AssignField(name, Trim(Content(content, close, end)), result);
        return true;
    });
    return true;
}

}  // namespace jobresults
