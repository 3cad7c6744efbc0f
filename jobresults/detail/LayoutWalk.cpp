// docs/FORMAT.md describes the layout and every torn state this accepts.
//
// The rule: a file is sound when it is kHeader, then records each exactly
// as ComposedAppend writes them, then one of the ends below; any other byte
// is damage, and the walk resumes at the next "<JobResult>\n".
//
// Why no file that a writer of this library leaves is called damaged:
// - The header is written once, whole, with the first record, and never
//   again.
// - Each record is exactly as TakeWrittenRecord reads it; since no value
//   holds a tag of the format's own elements, "<JobResult>\n" begins
//   records only.
// - Between appends the file ends in the trailer; a save leaves the final
//   end tag. During a save a kill can leave the trailer followed by part
//   or all of kFinishTail, the torn mixture of IsTornSave, or the final end
//   tag followed by the spare trailer.
// - During an append, behind the trailer stands only what the append's
//   first write puts there: "<" + a lead's filler + the rest of one record
//   exactly as the writer composes it + the new trailer, whole or cut (at
//   a page boundary by a kill, anywhere by a failed write whose undoing
//   failed too), the lead's first bytes perhaps the record's own after a
//   failed write was undone as far as the trailer (IsAppendTailEnd). Or
//   the second write's torn mixture over the trailer (IsTornAppend), cut at
//   a page boundary and followed by the rest of that same record and the
//   new trailer alone (IsTornAppendEnd). Any other byte behind the trailer
//   is damage here, although the readers stop at Root's end tag and pass
//   over what follows it: the walk is the strict judge of what a writer
//   leaves.
// - Each of these ends is accepted only as an end: at the end of the file,
//   with no record start behind it.
// One state falls outside and is reported as damage: a kill inside the
// very first write, or inside a one-piece append of a record that no lead
// could split, where that write spans pages; the file then ends inside a
// record, without Root's end tag, and the readers refuse it as well.
//
// What the rule cannot see: damage whose bytes are themselves a file a
// writer could have written, such as a changed byte inside a value. Zeroed
// bytes are never among them, since no writer stores a NUL byte.
#include "jobresults/detail/LayoutWalk.h"

#include <algorithm>
#include <string>

#include "jobresults/detail/JobResultsFormat.h"
#include "jobresults/detail/JobResultsLayout.h"
#include "jobresults/detail/WrittenRecord.h"
#include "xml/detail/XmlScan.h"

namespace jobresults {
namespace {

using std::string_view;
constexpr size_t npos = string_view::npos;

// Enough bytes to judge any end of a file: the longest are a torn state and
// the save's final end tag followed by the spare trailer.
constexpr size_t kLookahead = 32;

// How much of a damaged stretch that runs to the end of the file is read
// to see whether it can be the rest of an unfinished append.
constexpr size_t kUnfinishedLook = size_t{64} << 10;
static_assert(kLookahead >= kTornStateLength && kLookahead >= kFinalEndTag.size() + kTrailer.size(),
              "the lookahead holds every end of a file");

constexpr string_view kRecordStart = "<JobResult>\n";
static_assert(kRecordStart.substr(1, kRecordTag.size()) == kRecordTag, "the record's start tag");

using xmlscan::StartsWith;

// How the file ends at rest, at file offset `offset`, when rest is one of a
// writer's ends that the bytes held show whole.
std::optional<LayoutEnding> EndingAt(string_view rest, bool atEnd, std::uint64_t offset) {
    if (!atEnd) return std::nullopt;
    if (rest == kFinalEndTag) return LayoutEnding::kSaved;
    if (rest.size() == kFinalEndTag.size() + kTrailer.size() && StartsWith(rest, kFinalEndTag) &&
        rest.substr(kFinalEndTag.size()) == kTrailer) {
        return LayoutEnding::kWriting;  // a save before its cut
    }
    if (IsTornSaveEnd(rest, offset)) return LayoutEnding::kWriting;
    if (rest == kTrailer) return LayoutEnding::kOpen;
    if (StartsWith(rest, kTrailer) && StartsWith(kFinishTail, rest.substr(kTrailer.size()))) {
        return LayoutEnding::kWriting;
    }
    return std::nullopt;
}

// The ends of an append that a kill or a failed write can leave: they run
// to the end of the file, which only the walk on to it can show.
std::optional<LayoutWalk::Unfinished> UnfinishedAppendAt(string_view rest, bool atEnd,
                                                         std::uint64_t offset) {
    if (IsTornAppendAt(rest, offset)) return LayoutWalk::Unfinished::kTornHead;
    if (StartsWith(rest, kTrailer) && BeginsAppendTail(rest.substr(kTrailer.size()), atEnd)) {
        return LayoutWalk::Unfinished::kTail;
    }
    return std::nullopt;
}
}  // namespace

const LayoutItem& LayoutWalk::Next(JobResults& record) {
    if (m_pending) {
        m_last = *m_pending;
        m_pending.reset();
        return m_last;
    }
    if (m_phase == Phase::kDone) return m_last;
    for (;;) {
        if (std::optional<LayoutItem> item = Step(record)) {
            if (item->kind == LayoutItem::Kind::kEnd) m_phase = Phase::kDone;
            if (m_holdWhole) {
                m_window.Drop(m_pos);
                m_pos = 0;
            }
            m_holdWhole = false;
            m_last = *item;
            return m_last;
        }
        int error = 0;
        if (m_phase == Phase::kBody && !m_damageStart && !m_holdWhole && IsLongRecord()) {
            error = JudgeLongRecord();
        } else {
            error = m_window.Advance(m_pos);
            m_pos = 0;
        }
        if (error != 0) {
            m_phase = Phase::kDone;
            m_last = LayoutItem{LayoutItem::Kind::kFailed, Offset(0), 0, LayoutEnding::kCut, error};
            return m_last;
        }
    }
}

std::optional<LayoutItem> LayoutWalk::Step(JobResults& record) {
    if (m_phase == Phase::kAtHeader) {
        const string_view rest = m_window.Text().substr(m_pos);
        if (!m_window.AtEnd() && rest.size() < kHeader.size()) return std::nullopt;
        size_t same = 0;
        while (same < rest.size() && same < kHeader.size() && rest[same] == kHeader[same]) ++same;
        m_phase = Phase::kBody;
        if (same < kHeader.size() && same < rest.size()) {
            m_damageStart = Offset(m_pos + same);
            m_pos += same + 1;
            return Resync();
        }
        m_pos += same;  // the header, or at the end of the file a part of it
        if (same < kHeader.size()) return EndAt(Offset(m_pos), LayoutEnding::kCut);
    }
    return m_damageStart ? Resync() : AtBoundary(record);
}

std::optional<LayoutItem> LayoutWalk::AtBoundary(JobResults& record) {
    const string_view text = m_window.Text();
    const string_view rest = text.substr(m_pos);
    const bool atEnd = m_window.AtEnd();
    if (!atEnd && rest.size() < kLookahead) return std::nullopt;
    if (rest.empty()) return EndAt(Offset(m_pos), LayoutEnding::kCut);
    LayoutCursor cursor{text, m_pos, atEnd};
    switch (TakeWrittenRecord(cursor, record)) {
        case LayoutMatch::kMore:
            return std::nullopt;
        case LayoutMatch::kYes: {
            m_sawRecord = true;
            LayoutItem item{LayoutItem::Kind::kRecord, Offset(m_pos), cursor.at - m_pos};
            item.tagLength = item.length - (text[cursor.at - 1] == '\n' ? 1 : 0);
            m_pos = cursor.at;
            return item;
        }
        case LayoutMatch::kNo:
            break;
    }
    // The first write carries a record: no writer ends a file before one.
    const std::uint64_t offset = Offset(m_pos);
    if (m_sawRecord) {
        // A kill cuts a write at a page boundary of the file, not of the text.
        const std::uint64_t inFile = m_window.FileOffset(offset);
        if (const std::optional<LayoutEnding> ending = EndingAt(rest, atEnd, inFile)) {
            return EndAt(offset, *ending);
        }
        m_unfinished = UnfinishedAppendAt(rest, atEnd, inFile).value_or(Unfinished::kNone);
    }
    m_damageStart = offset;
    ++m_pos;  // a damaged stretch holds at least the byte where it begins
    return Resync();
}

std::optional<LayoutItem> LayoutWalk::Resync() {
    const string_view text = m_window.Text();
    const size_t next = xmlscan::Find(text, kRecordStart, m_pos);
    if (next != npos) {
        m_pos = next;
        m_unfinished = Unfinished::kNone;  // records follow: it was damage
        return DamageUntil(Offset(next));
    }
    if (!m_window.AtEnd()) {
        // Only the bytes that may begin a record start, or hold an end tag
        // at the end of the file, need to stay.
        const size_t keep = std::max(kRecordStart.size() - 1, kFinalEndTag.size());
        if (text.size() > m_pos + keep) m_pos = text.size() - keep;
        return std::nullopt;
    }
    bool unfinished = false;
    if (const int error = EndsUnfinishedAppend(unfinished)) {
        m_phase = Phase::kDone;
        return LayoutItem{LayoutItem::Kind::kFailed, Offset(0), 0, LayoutEnding::kCut, error};
    }
    if (unfinished) {
        const std::uint64_t start = *m_damageStart;
        m_damageStart.reset();
        m_phase = Phase::kDone;
        return EndAt(start, LayoutEnding::kWriting);
    }
    // The damage runs to the end of the file, unless the file still ends in
    // an end tag behind the damage's first byte.
    const std::uint64_t fileEnd = Offset(text.size());
    std::uint64_t damageEnd = fileEnd;
    LayoutEnding ending = LayoutEnding::kCut;
    for (const auto& [tag, kind] : {std::pair{kFinalEndTag, LayoutEnding::kSaved},
                                    std::pair{kTrailer, LayoutEnding::kOpen}}) {
        if (text.size() >= tag.size() && text.substr(text.size() - tag.size()) == tag &&
            fileEnd - tag.size() > *m_damageStart) {
            damageEnd = fileEnd - tag.size();
            ending = kind;
            break;
        }
    }
    m_phase = Phase::kDone;
    m_pending = EndAt(damageEnd, ending);
    return DamageUntil(damageEnd);
}

// An unfinished append is followed by the rest of its write alone
// (IsTornAppendEnd, IsAppendTailEnd), read again from the file: the window
// keeps only the last bytes of a damaged stretch.
int LayoutWalk::EndsUnfinishedAppend(bool& ends) const {
    ends = false;
    if (m_unfinished == Unfinished::kNone) return 0;
    const std::uint64_t start = *m_damageStart;
    const std::uint64_t length = Offset(m_window.Text().size()) - start;
    const bool tornHead = m_unfinished == Unfinished::kTornHead;
    std::string toEnd;
    // A long stretch is held whole only once its first bytes may begin the
    // rest of an append: any other is damage, whatever its length.
    if (length > kUnfinishedLook) {
        if (const int error = m_window.ReadAt(start, kUnfinishedLook, toEnd)) return error;
        if (!MayBeginUnfinishedAppend(toEnd, tornHead, m_window.FileOffset(start))) return 0;
    }
    if (const int error = m_window.ReadAt(start, static_cast<size_t>(length), toEnd)) return error;
    ends = toEnd.size() == length && (m_unfinished == Unfinished::kTornHead
                                          ? IsTornAppendEnd(toEnd, m_window.FileOffset(start))
                                          : IsAppendTailEnd(toEnd));
    return 0;
}

// A record under way (anything else at a boundary is judged on a short
// look) that has grown past what the window may hold.
bool LayoutWalk::IsLongRecord() const {
    const string_view rest = m_window.Text().substr(m_pos);
    return rest.size() > std::max(m_window.HoldLimit(), kLookahead) &&
           StartsWith(rest, kRecordStart);
}

// A record that has grown past what the window may hold is held whole
// only when its end tag comes before the next record starts; otherwise it
// is damage, found without holding it.
int LayoutWalk::JudgeLongRecord() {
    const std::uint64_t start = Offset(m_pos);
    const std::string endTag = "</" + std::string(kRecordTag) + ">";
    std::uint64_t next = 0;
    std::uint64_t end = 0;
    std::uint64_t unused = 0;
    if (const int error = m_window.FindAhead(start + 1, kRecordStart, next, unused)) return error;
    if (const int error = m_window.FindAhead(start, endTag, end, unused, next)) return error;
    if (end != FileWindow::kNotFound) {
        m_holdWhole = true;
        // Held from m_pos to behind its end tag, with a look at what follows.
        const std::uint64_t whole = end - start + endTag.size() + kLookahead;
        if (!m_window.Reserve(m_pos + static_cast<size_t>(whole))) return ENOMEM;
    } else {
        m_damageStart = start;
        ++m_pos;
    }
    return 0;
}

LayoutItem LayoutWalk::DamageUntil(std::uint64_t end) {
    const std::uint64_t start = *m_damageStart;
    m_damageStart.reset();
    return LayoutItem{LayoutItem::Kind::kDamage, start, end - start};
}

LayoutItem LayoutWalk::EndAt(std::uint64_t offset, LayoutEnding ending) {
    const std::uint64_t fileEnd =
        m_window.AtEnd() ? Offset(m_window.Text().size()) : m_window.FileSize();
    return LayoutItem{LayoutItem::Kind::kEnd, offset, fileEnd > offset ? fileEnd - offset : 0,
                      ending};
}

}  // namespace jobresults
