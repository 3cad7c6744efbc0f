#include "jobresults/detail/JobResultsLayout.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <optional>
#include <string>

#include "jobresults/detail/WrittenRecord.h"
#include "xml/detail/XmlScan.h"

namespace jobresults {
namespace {

constexpr size_t kOuterNames = 2;  // Root and JobResult come first, then the fields

constexpr std::array<std::string_view, kOuterNames + kRecordFieldCount> FormatNames() {
    std::array<std::string_view, kOuterNames + kRecordFieldCount> names{kRootTag, kRecordTag};
    for (size_t i = 0; i < kRecordFieldCount; ++i) names[kOuterNames + i] = kRecordFields[i].tag;
    return names;
}
constexpr auto kFormatNames = FormatNames();

using xmlscan::StartsWith;

// The length of the tag of one of the first `names` format names that
// begins at text's "<", or 0.
size_t FormatTagLength(std::string_view text, size_t names) {
    const bool endTag = text.size() > 1 && text[1] == '/';
    const size_t nameAt = endTag ? 2 : 1;
    for (size_t i = 0; i < names; ++i) {
        const std::string_view name = kFormatNames[i];
        const std::string_view rest = text.substr(nameAt);
        if (!StartsWith(rest, name)) continue;
        const std::string_view after = rest.substr(name.size());
        if (StartsWith(after, ">")) return nameAt + name.size() + 1;
        if (!endTag && StartsWith(after, " />")) return nameAt + name.size() + 3;
    }
    return 0;
}

// The first tag of one of the first `names` format names in text.
std::string_view FirstFormatTag(std::string_view text, size_t names) {
    for (size_t lt = xmlscan::FindByte(text, '<', 0); lt != std::string_view::npos;
         lt = xmlscan::FindByte(text, '<', lt + 1)) {
        if (const size_t length = FormatTagLength(text.substr(lt), names))
            return text.substr(lt, length);
    }
    return std::string_view();
}

// Whether text begins with the first k bytes of fresh followed by the rest
// of stale, for a k that keeps neither whole. fresh and stale have the same
// length. With the offset of the text in the file, k must also put the cut
// on a page boundary, as a kill does.
bool IsMixture(std::string_view text, std::string_view fresh, std::string_view stale, size_t limit,
               std::optional<std::uint64_t> offset = std::nullopt) {
    if (text.size() < fresh.size()) return false;
    const std::string_view head = text.substr(0, fresh.size());
    if (head == fresh || head == stale) return false;
    for (size_t k = 1; k < limit; ++k) {
        if (offset && (*offset + k) % kPageSize != 0) continue;
        if (head.substr(0, k) == fresh.substr(0, k) && head.substr(k) == stale.substr(k)) {
            return true;
        }
    }
    return false;
}

// The record's first bytes up to its first field's "<": what the second
// write of a split append puts over the old trailer and its lead.
std::string RecordHead() { return "<" + std::string(kRecordTag) + ">\n<"; }

// Whether rest is what follows the record's first `from` bytes in an
// append: the rest of one record exactly as the writer composes it and the
// new trailer, or with mayBeCut the first bytes of that.
bool IsRecordRest(size_t from, std::string_view rest, bool mayBeCut) {
    std::string text = RecordHead().substr(0, from);
    text.append(rest);
    LayoutCursor cursor{text, 0, !mayBeCut};
    JobResults unused;
    const LayoutMatch match = TakeWrittenRecord(cursor, unused);
    if (match != LayoutMatch::kYes) return match == LayoutMatch::kMore;
    const std::string_view behind = std::string_view(text).substr(cursor.at);
    return text[cursor.at - 1] == '\n' &&
           (mayBeCut ? StartsWith(kTrailer, behind) : behind == kTrailer);
}

// The bytes from the trailer's end to the split that the tail's write puts
// there: "<" and the filler.
size_t LeadLength(const Lead& lead) { return lead.split - kTrailer.size(); }

// The lead as a writer can leave it: its first `overwritten` bytes may be
// the record's own, where a failed write of the record's first bytes was
// undone only as far as putting the trailer back.
std::string LeadAsLeft(const Lead& lead, size_t overwritten) {
    const std::string written = "<" + std::string(lead.filler);
    return RecordHead().substr(kTrailer.size(), overwritten) + written.substr(overwritten);
}

// An append's tail behind the trailer; onlyItsStart: toEnd may stop
// anywhere short of the tail's end.
bool IsAppendTail(std::string_view toEnd, bool onlyItsStart) {
    if (!StartsWith(toEnd, kTrailer)) return onlyItsStart && StartsWith(kTrailer, toEnd);
    const std::string_view behind = toEnd.substr(kTrailer.size());
    for (const Lead& lead : kLeads) {
        for (size_t overwritten = 0; overwritten < LeadLength(lead); ++overwritten) {
            const std::string left = LeadAsLeft(lead, overwritten);
            const bool mayBeCut = onlyItsStart || overwritten == 0;
            if (behind.size() < left.size()
                    ? mayBeCut && StartsWith(left, behind)
                    : StartsWith(behind, left) &&
                          IsRecordRest(lead.split, behind.substr(left.size()), mayBeCut)) {
                return true;
            }
        }
    }
    return false;
}

bool IsTornAppendHead(std::string_view atTrailer, std::optional<std::uint64_t> trailer) {
    const std::string fresh = RecordHead();
    for (const Lead& lead : kLeads) {
        const std::string stale =
            std::string(kTrailer) + "<" + std::string(lead.filler) + fresh.substr(lead.split);
        if (IsMixture(atTrailer, fresh, stale, lead.split, trailer)) return true;
    }
    return false;
}

bool IsTornSaveHead(std::string_view atTrailer, std::optional<std::uint64_t> trailer) {
    static_assert(kFinishHead.size() == kTrailer.size(), "the head overwrites the trailer");
    static_assert(kTrailer.size() + kFinishTail.size() == kTornStateLength, "a save's bytes");
    if (atTrailer.size() < kTornStateLength ||
        atTrailer.substr(kTrailer.size(), kFinishTail.size()) != kFinishTail) {
        return false;
    }
    return IsMixture(atTrailer.substr(0, kTrailer.size()), kFinishHead, kTrailer, kTrailer.size(),
                     trailer);
}

}  // namespace

size_t FormatTagAt(std::string_view text) { return FormatTagLength(text, std::size(kFormatNames)); }

std::string_view FormatTagIn(std::string_view value) {
    return FirstFormatTag(value, std::size(kFormatNames));
}

bool IsFieldName(std::string_view name) {
    return std::find(std::begin(kFormatNames) + kOuterNames, std::end(kFormatNames), name) !=
           std::end(kFormatNames);
}

bool IsRecordRemains(std::string_view name, std::string_view content) {
    return IsFieldName(name) || (name != kRecordTag && !FormatTagIn(content).empty());
}

bool IsUnstorableValue(std::string_view value) {
    return value.find('\0') != std::string_view::npos || !FormatTagIn(value).empty();
}

bool IsTornAppend(std::string_view atTrailer) { return IsTornAppendHead(atTrailer, std::nullopt); }

static_assert(kFinishHead.size() + 2 == kFinalEndTag.size() &&
                  kFinalEndTag.substr(kFinishHead.size()) == kFinishTail.substr(0, 2),
              "the final end tag is the head and the first two bytes of the tail");

bool IsTornSave(std::string_view atTrailer) { return IsTornSaveHead(atTrailer, std::nullopt); }

bool IsTornAppendAt(std::string_view atTrailer, std::uint64_t trailer) {
    return IsTornAppendHead(atTrailer, trailer);
}

// The torn head stands for the record's first bytes, which its write had
// yet to put there: with them, the rest must be that record and the new
// trailer.
bool IsTornAppendEnd(std::string_view toEnd, std::uint64_t trailer) {
    const size_t head = RecordHead().size();
    return toEnd.size() >= head && IsTornAppendHead(toEnd, trailer) &&
           IsRecordRest(head, toEnd.substr(head), false);
}

bool BeginsAppendTail(std::string_view behind, bool atEnd) {
    for (const Lead& lead : kLeads) {
        for (size_t overwritten = 0; overwritten < LeadLength(lead); ++overwritten) {
            const std::string left = LeadAsLeft(lead, overwritten);
            if (StartsWith(behind, left) || (atEnd && StartsWith(left, behind))) return true;
        }
    }
    return false;
}

// A lead overwritten in part was followed by the whole tail; only a tail
// whose own write was cut can stop short.
bool IsAppendTailEnd(std::string_view toEnd) { return IsAppendTail(toEnd, false); }

bool MayBeginUnfinishedAppend(std::string_view prefix, bool tornHead, std::uint64_t trailer) {
    if (!tornHead) return IsAppendTail(prefix, true);
    const size_t head = RecordHead().size();
    if (prefix.size() < head) return true;
    return IsTornAppendHead(prefix, trailer) && IsRecordRest(head, prefix.substr(head), true);
}

bool IsTornSaveEnd(std::string_view toEnd, std::uint64_t trailer) {
    return toEnd.size() == kTornStateLength && IsTornSaveHead(toEnd, trailer);
}

bool IsTornEndAt(std::string_view toEnd, std::uint64_t open) {
    if (IsTornAppendEnd(toEnd, open)) return true;
    const std::string_view lineBreaks = kFinishHead.substr(0, 2);
    if (open < lineBreaks.size() || toEnd.size() + lineBreaks.size() != kTornStateLength) {
        return false;
    }
    return IsTornSaveEnd(std::string(lineBreaks) + std::string(toEnd), open - lineBreaks.size());
}

}  // namespace jobresults
