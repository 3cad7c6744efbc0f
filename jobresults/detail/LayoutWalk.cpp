// The rule: a file is sound when it is kHeader, then records each exactly
// as ComposedAppend writes them, then one of the ends below; any other byte
// is damage, and the walk resumes at the next "<JobResult>\n".
//
// Why no file that a writer of this library leaves is called damaged:
// - The header is written once, whole, with the first record, and never
//   again.
// - Each record is "<JobResult>\n", five fields in a fixed order, each
//   "<F />\n" (empty value) or "<F>\n" + raw + "</F>\n", where raw is the
//   value with "\n" added unless it ends in one, then "</JobResult>\n";
//   Size is the decimal digits of an unsigned 64-bit number. The writer
//   refuses values that hold a tag of the format's own elements or a NUL
//   byte (IsUnstorableValue), so a field's raw text runs to the first
//   "</F>" and holds neither, and "<JobResult>\n" begins records only.
// - Between appends the file ends in the trailer; a save leaves the final
//   end tag. During an append a kill can leave the trailer followed by the
//   unfinished tail (its lead's "<" and filler, or part of them, then
//   anything), or the torn mixture that IsTornAppend recognises; during a
//   save, the trailer followed by part or all of kFinishTail, the torn
//   mixture of IsTornSave, or the final end tag followed by the spare
//   trailer. A failed write is undone back to the trailer; until the file
//   is cut behind it, the tail stays, its lead perhaps partly overwritten
//   with the record's first bytes. Each of these ends is accepted below,
//   and only as an end: no record start follows an unfinished append, a
//   torn mixture is cut at a page boundary (a kill stops a write only
//   there) and is followed by the rest of its record and the new trailer
//   alone.
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
#include <charconv>
#include <string>

#include "jobresults/detail/JobResultsFormat.h"
#include "jobresults/detail/JobResultsLayout.h"
#include "xml/detail/XmlScan.h"

namespace jobresults {
namespace {

using std::string_view;
constexpr size_t npos = string_view::npos;

// Enough bytes to judge any end of a file: the longest are a torn state and
// the save's final end tag followed by the spare trailer.
constexpr size_t kLookahead = 32;
static_assert(kLookahead >= kTornStateLength && kLookahead >= kFinalEndTag.size() + kTrailer.size(),
              "the lookahead holds every end of a file");

constexpr string_view kRecordStart = "<JobResult>\n";
static_assert(kRecordStart.substr(1, kRecordTag.size()) == kRecordTag, "the record's start tag");

constexpr string_view kFieldTags[] = {kClientNameTag, kUrlTag, kBackupJobIdTag, kErrorStringTag,
                                      kSizeTag};
constexpr size_t kFieldCount = std::size(kFieldTags);

using xmlscan::StartsWith;

enum class Match { kYes, kNo, kMore };

// Reads the writer's layout from text; kMore when the text held ends before
// the bytes can be judged and more of the file follows.
struct Cursor {
    string_view text;
    size_t at;
    bool atEnd;

    Match Take(string_view literal) {
        const string_view rest = text.substr(at);
        if (rest.size() < literal.size()) {
            return !atEnd && StartsWith(literal, rest) ? Match::kMore : Match::kNo;
        }
        if (!StartsWith(rest, literal)) return Match::kNo;
        at += literal.size();
        return Match::kYes;
    }
};

#define JR_TAKE(expression)                         \
    do {                                            \
        const Match jrMatch = (expression);         \
        if (jrMatch != Match::kYes) return jrMatch; \
    } while (false)

// "<" + name + (" />\n" | ">\n" + raw + "</" + name + ">\n"). value is the
// trimmed raw text, as the readers give it.
Match TakeField(Cursor& cursor, string_view name, string_view& value, bool& empty) {
    JR_TAKE(cursor.Take("<"));
    JR_TAKE(cursor.Take(name));
    Cursor probe = cursor;
    const Match selfClosing = probe.Take(" />\n");
    if (selfClosing != Match::kNo) {
        if (selfClosing == Match::kYes) cursor = probe;
        empty = true;
        value = string_view();
        return selfClosing;
    }
    empty = false;
    JR_TAKE(cursor.Take(">\n"));
    const size_t begin = cursor.at;
    size_t end = begin;
    // "</" + name + ">" without building it: the first "</name" that a ">"
    // follows.
    for (end = xmlscan::Find(cursor.text, "</", end); end != npos;
         end = xmlscan::Find(cursor.text, "</", end + 1)) {
        const string_view tag = cursor.text.substr(end + 2);
        if (StartsWith(tag, name) && tag.substr(name.size(), 1) == ">") break;
    }
    const string_view raw =
        cursor.text.substr(begin, end == npos ? string_view::npos : end - begin);
    if (IsUnstorableValue(raw)) return Match::kNo;
    if (end == npos) return cursor.atEnd ? Match::kNo : Match::kMore;
    if (raw.empty() || raw.back() != '\n') return Match::kNo;
    cursor.at = end + name.size() + 3;
    value = xmlscan::Trim(raw);
    return cursor.Take("\n");
}

// Size as the writer prints it: the shortest decimal digits of the number.
bool ParseWrittenSize(string_view digits, unsigned long long& size) {
    const char* const end = digits.data() + digits.size();
    const auto parsed = std::from_chars(digits.data(), end, size);
    if (digits.empty() || parsed.ec != std::errc() || parsed.ptr != end) return false;
    char printed[24];
    const auto written = std::to_chars(printed, printed + sizeof printed, size);
    return string_view(printed, static_cast<size_t>(written.ptr - printed)) == digits;
}

// A record from cursor.at exactly as the writer composes it. Its final
// line break may be missing when what follows is damage: its fields are
// whole all the same. The record is filled only when the whole is found.
Match TakeRecord(Cursor& cursor, JobResults& record) {
    JR_TAKE(cursor.Take("<"));
    JR_TAKE(cursor.Take(kRecordTag));
    JR_TAKE(cursor.Take(">\n"));
    string_view values[kFieldCount];
    bool empty = false;
    for (size_t i = 0; i < kFieldCount; ++i) {
        JR_TAKE(TakeField(cursor, kFieldTags[i], values[i], empty));
    }
    unsigned long long size = 0;
    if (empty || !ParseWrittenSize(values[kFieldCount - 1], size)) return Match::kNo;
    JR_TAKE(cursor.Take("</"));
    JR_TAKE(cursor.Take(kRecordTag));
    JR_TAKE(cursor.Take(">"));
    if (cursor.at == cursor.text.size() && !cursor.atEnd) return Match::kMore;
    if (cursor.at < cursor.text.size() && cursor.text[cursor.at] == '\n') ++cursor.at;
    std::string* const strings[] = {&record.ClientName, &record.Url, &record.BackupJobId,
                                    &record.ErrorString};
    for (size_t i = 0; i < std::size(strings); ++i) {
        strings[i]->assign(values[i].data(), values[i].size());
    }
    record.Size = size;
    return Match::kYes;
}

#undef JR_TAKE

// Behind a trailer: the unfinished tail of an append, "<" + a lead's
// filler and anything after it, or at the end of the file part of that. A
// failed write of the record's first bytes may have replaced the first
// bytes of the lead with the record's own before the trailer was put back.
bool IsAppendTail(string_view behind, bool atEnd) {
    for (const Lead& lead : kLeads) {
        const std::string stale = "<" + std::string(lead.filler);
        const string_view fresh = kRecordStart.substr(kTrailer.size(), stale.size());
        for (size_t overwritten = 0; overwritten < stale.size(); ++overwritten) {
            const std::string left =
                std::string(fresh.substr(0, overwritten)) + stale.substr(overwritten);
            if (StartsWith(behind, left) || (atEnd && StartsWith(left, behind))) return true;
        }
    }
    return false;
}

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
    if (StartsWith(rest, kTrailer) && IsAppendTail(rest.substr(kTrailer.size()), atEnd)) {
        return LayoutWalk::Unfinished::kTail;
    }
    return std::nullopt;
}
}  // namespace

LayoutItem LayoutWalk::Next(JobResults& record) {
    if (m_pending) {
        m_last = *m_pending;
        m_pending.reset();
        return m_last;
    }
    if (m_phase == Phase::kDone) return m_last;
    for (;;) {
        if (std::optional<LayoutItem> item = Step(record)) {
            if (item->kind == LayoutItem::Kind::kEnd) m_phase = Phase::kDone;
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
    Cursor cursor{text, m_pos, atEnd};
    switch (TakeRecord(cursor, record)) {
        case Match::kMore:
            return std::nullopt;
        case Match::kYes: {
            m_sawRecord = true;
            LayoutItem item{LayoutItem::Kind::kRecord, Offset(m_pos), cursor.at - m_pos};
            item.tagLength = item.length - (text[cursor.at - 1] == '\n' ? 1 : 0);
            m_pos = cursor.at;
            return item;
        }
        case Match::kNo:
            break;
    }
    // The first write carries a record: no writer ends a file before one.
    const std::uint64_t offset = Offset(m_pos);
    if (m_sawRecord) {
        if (const std::optional<LayoutEnding> ending = EndingAt(rest, atEnd, offset)) {
            return EndAt(offset, *ending);
        }
        m_unfinished = UnfinishedAppendAt(rest, atEnd, offset).value_or(Unfinished::kNone);
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
        // Only the bytes that may begin a record start, or end an unfinished
        // append, need to stay.
        const size_t keep = std::max(kRecordStart.size() - 1, TornAppendEnd().size());
        if (text.size() > m_pos + keep) m_pos = text.size() - keep;
        return std::nullopt;
    }
    if (EndsUnfinishedAppend(text)) {
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

// A torn head is followed by the rest of its record and the new trailer;
// the unfinished tail of an append may stop anywhere.
bool LayoutWalk::EndsUnfinishedAppend(string_view text) const {
    switch (m_unfinished) {
        case Unfinished::kTornHead: {
            const std::string end = TornAppendEnd();
            return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
        }
        case Unfinished::kTail:
            return true;
        case Unfinished::kNone:
            break;
    }
    return false;
}

// A record under way (anything else at a boundary is judged on a short
// look) that has grown past what the window may hold.
bool LayoutWalk::IsLongRecord() const {
    const string_view rest = m_window.Text().substr(m_pos);
    return rest.size() > std::max(m_window.HoldLimit(), kLookahead) && StartsWith(rest, kRecordStart);
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
