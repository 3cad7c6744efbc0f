// What a writer leaves in a job results file around its records: the tags
// that no value may hold, and the bytes that a write cut short by a kill can
// leave at the offset of the trailer (docs/FORMAT.md shows each with its
// bytes). The writer keeps to these facts; the
// readers, the check of a file and the rescue of a damaged one rely on them
// to tell a writer's states apart from damage.
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_JOBRESULTSLAYOUT_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_JOBRESULTSLAYOUT_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "jobresults/detail/JobResultsFormat.h"

namespace jobresults {

// The first start tag ("<Name>" or "<Name />") or end tag ("</Name>") of the
// format's own elements (Root, JobResult and the five fields) in value, or
// an empty view when it holds none. The writer refuses such values: no real
// value holds one, and a value that did could end its element early when
// read back. So in a file that a writer produced, these tags stand only
// where the writer put them, and one found inside a value is damage.
std::string_view FormatTagIn(std::string_view value);

// The length of the tag of the format's own elements that begins at
// text's first byte, a "<", or 0 when none does.
size_t FormatTagAt(std::string_view text);
// The longest tag FormatTagIn finds ("<" name " />"), by which a search in
// pieces of a file overlaps them.
constexpr size_t LongestFormatTag() {
    size_t longest = std::max(kRootTag.size(), kRecordTag.size());
    for (const RecordField& field : kRecordFields) longest = std::max(longest, field.tag.size());
    return longest + 4;
}
inline constexpr size_t kLongestFormatTag = LongestFormatTag();

// One of the fields' names.
bool IsFieldName(std::string_view name);

// Whether a child of Root (its content empty when it is self-closing) is
// what is left of a record whose own tags were damaged: a field standing
// alone, or an element of another name that holds a tag of the format's
// own. A writer puts neither there; other elements are passed over.
bool IsRecordRemains(std::string_view name, std::string_view content);

// Whether a value cannot be stored: it holds a tag of the format's own
// elements, or a NUL byte. No job result value holds NUL and XML text
// cannot; refusing it also means that a zeroed stretch, the commonest
// damage a power loss leaves, can never pass for a value. The readers take
// a field whose value is unstorable for damage.
bool IsUnstorableValue(std::string_view value);
inline bool HoldsNul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

// The kernel copies a write into a file page by page, and a kill stops it
// only between pages: a write is cut short only at a multiple of this in
// the file. (Larger pages only space the cuts further apart.)
inline constexpr std::uint64_t kPageSize = 4096;

// How a page-spanning append is split. The tail, written first behind the
// old trailer, is "<" + filler + data[split..]: it must read as a start tag
// whose end tag never follows, so that the scan of the file stops there.
// The record's first bytes are "<JobResult>\n"; with split 8 the tail's tag
// is "lt", with split 10 it is the filler alone. The split stays at most
// kMaxSplit, so "<JobResult>" is complete only once the second write is.
struct Lead {
    size_t split;
    std::string_view filler;
};
inline constexpr Lead kLeads[] = {{8, ""},    {10, "Qz"}, {10, "Jx"},
                                  {10, "Vw"}, {10, "Kq"}, {10, "Zy"}};
inline constexpr size_t kMaxSplit = 11;

// A save first writes kFinishTail behind the trailer: "t>" completes the
// final end tag, the spare "</Root>" keeps the document closed while the
// trailer is being overwritten with kFinishHead, the rest of the final end
// tag; then the file is cut behind it.
inline constexpr std::string_view kFinishTail = "t></Root>";
inline constexpr std::string_view kFinishHead = "\n\n</Roo";

// A write that spans a page boundary can be cut by a kill at that boundary.
// The two short writes at a trailer's offset (the first bytes of a record
// over the old trailer and its lead; the head of the final end tag over the
// trailer) then leave a mixture of new and old bytes there. Both functions
// take the text from the trailer's offset on and tell whether it begins
// with such a mixture (not with the old or the new bytes whole); they need
// kTornStateLength bytes.
bool IsTornAppend(std::string_view atTrailer);
bool IsTornSave(std::string_view atTrailer);
inline constexpr size_t kTornStateLength = 16;

// The same as an end of the file, which is the only place a kill leaves
// such a mixture: toEnd runs from the trailer, at file offset `trailer`, to
// the end of the file. The mixture is cut at a page boundary, and nothing
// follows it but the rest of the torn write, byte for byte: for an append
// the rest of one record as the writer composes it and the new trailer,
// for a save the rest of the final end tag. Anywhere else, or with other
// bytes behind the cut (a tag that begins at the "<" the mixture ends in
// is never looked at otherwise), the same bytes are damage.
bool IsTornAppendEnd(std::string_view toEnd, std::uint64_t trailer);
// The mixture of an append alone, cut at a page boundary.
bool IsTornAppendAt(std::string_view atTrailer, std::uint64_t trailer);
bool IsTornSaveEnd(std::string_view toEnd, std::uint64_t trailer);

// The same seen from the "<" at which such a mixture stops the scan of
// Root's content, at file offset `open`, with the text from there to the end
// of the file: a record's mixture begins with it, a save's two bytes before
// it (its first two bytes are line breaks, which any mixture that holds a
// "<" keeps).
bool IsTornEndAt(std::string_view toEnd, std::uint64_t open);

// The first write of a split append puts its tail behind the trailer: "<" +
// a lead's filler + the rest of the record (from the lead's split on) +
// the new trailer. A kill before the second write leaves the trailer
// followed by that tail, whole or cut at a page boundary; a failed first
// write whose undoing failed as well, the tail cut anywhere; a failed
// second write undone only as far as putting the trailer back, the whole
// tail, the first bytes of its lead perhaps the record's own. toEnd runs
// from the trailer to the end of the file; it is such an end only when the
// record is one the writer composes, byte for byte. Nothing else behind
// the trailer comes from a writer.
bool IsAppendTailEnd(std::string_view toEnd);
// Whether `behind`, the bytes behind a trailer, begin as such a tail: with
// its lead, or at the end of the file (atEnd) with a part of it.
bool BeginsAppendTail(std::string_view behind, bool atEnd);
// Whether the first bytes of such an end, a torn head's (tornHead, at file
// offset `trailer`) or a tail's, can still grow into one: the check of a
// long stretch looks at its first bytes before it holds the whole.
bool MayBeginUnfinishedAppend(std::string_view prefix, bool tornHead, std::uint64_t trailer);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_JOBRESULTSLAYOUT_H
