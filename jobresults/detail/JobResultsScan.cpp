#include "jobresults/detail/JobResultsScan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "jobresults/detail/JobResultsFormat.h"
#include "jobresults/detail/JobResultsLayout.h"
#include "xml/detail/XmlScan.h"
#include "xml/detail/XmlSimd.h"

namespace jobresults {
namespace {

using std::string_view;
constexpr size_t npos = string_view::npos;
// The end position of an element that has no end tag.
constexpr size_t kSelfClosing = npos;

using xmlscan::IsBlank;
using xmlscan::TagName;
using xmlscan::Trim;

bool Matches(const char* at, string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (at[i] != text[i]) return false;
    }
    return true;
}

// Whether "</" + name + ">" stands at lt.
bool IsEndTagAt(string_view text, size_t lt, string_view name) {
    if (text.size() - lt < name.size() + 3) return false;
    const char* at = text.data() + lt;
    return at[1] == '/' && at[name.size() + 2] == '>' && Matches(at + 2, name);
}

using xmlscan::FindChar;
using xmlscan::ScanEndTagStarts;

// Finds the markup of one level of elements in one pass over the text. With
// a stop tag the level ends at its first occurrence (Root's content ends at
// the first "</Root>"); every "<" the walker meets is checked for it, so
// finding the end of the level costs no search of its own.
class ElementWalker {
public:
    ElementWalker(string_view text, string_view stopName) : m_text(text), m_stopName(stopName) {}

    // The first "<" at or after from, inside the level.
    size_t NextOpen(size_t from) {
        const size_t lt = FindChar<'<'>(m_text, from);
        return lt == npos || IsStop(lt) ? npos : lt;
    }

    // The ">" that closes the tag opened at open, inside the level.
    size_t FindClose(size_t open) {
        const size_t gt = FindChar<'>'>(m_text, open);
        if (gt == npos || m_stopName.empty()) return gt;
        for (size_t lt = FindChar<'<'>(m_text, open + 1); lt < gt;
             lt = FindChar<'<'>(m_text, lt + 1)) {
            if (IsStop(lt)) return npos;
        }
        return gt;
    }

    // The first end tag "</name>" at or after from that lies wholly inside
    // the level. Only "<" followed by "/" can start it or the stop tag.
    size_t FindEndTag(string_view name, size_t from) {
        bool stopped = false;
        // The ">" of "</name>" and of the stop tag; without a stop tag both
        // gaps are the same.
        const size_t gaps[2] = {name.size() + 2,
                                m_stopName.empty() ? name.size() + 2 : m_stopName.size() + 2};
        const size_t lt = ScanEndTagStarts(m_text, from, gaps, [&](size_t at) {
            stopped = IsStop(at) || (IsEndTag(at, name) && CrossesStop(at, name));
            return stopped || IsEndTag(at, name);
        });
        return stopped ? npos : lt;
    }

    // Where the stop tag was met, or npos.
    size_t StopPosition() const { return m_stop; }

private:
    bool IsEndTag(size_t lt, string_view name) const { return IsEndTagAt(m_text, lt, name); }

    bool IsStop(size_t lt) {
        if (m_stopName.empty() || !IsEndTag(lt, m_stopName)) return false;
        m_stop = lt;
        return true;
    }

    // An end tag whose name holds "<" can hide the stop tag inside itself.
    bool CrossesStop(size_t lt, string_view name) {
        if (m_stopName.empty() || name.find('<') == npos) return false;
        const size_t length = name.size() + 3;
        for (size_t inner = lt + 1; inner < lt + length; ++inner) {
            if (m_text[inner] == '<' && IsStop(inner)) return true;
        }
        return false;
    }

    string_view m_text;
    string_view m_stopName;
    size_t m_stop = npos;
};

// The flat scanner's rules for one level: tags starting with "!" or "?" are
// passed over, a tag ending in "/" (or empty) is an element without content,
// any other element ends at the first end tag of its name; the level ends at
// a tag without ">" or an element without its end tag. visit(open, close,
// end, name) gets the positions of "<" and ">" of the start tag and of the
// "<" of the end tag (kSelfClosing when there is none), and the name; it
// returns false to pause the scan behind that element. Returns where the
// scan stopped: just behind the last element visited. Every search that
// runs out of text stops the scan there, so on a longer text the scan can
// go on from that position with the same result.
template <class Visit>
size_t ScanLevel(ElementWalker& walker, string_view text, size_t pos, Visit&& visit) {
    for (;;) {
        const size_t open = walker.NextOpen(pos);
        if (open == npos) return pos;
        const size_t close = walker.FindClose(open);
        if (close == npos) return pos;
        string_view tag = text.substr(open + 1, close - open - 1);
        const xmlscan::TagKind kind = xmlscan::ClassifyTag(tag);
        if (kind != xmlscan::TagKind::kStart) {
            pos = close + 1;
            if (kind == xmlscan::TagKind::kSelfClosing &&
                !visit(open, close, kSelfClosing, TagName(tag)))
                return pos;
            continue;
        }
        const string_view name = TagName(tag);
        const size_t end = walker.FindEndTag(name, close + 1);
        if (end == npos) return pos;
        pos = end + 1;
        if (!visit(open, close, end, name)) return pos;
    }
}

// The tag text of an element, without the "/" of a self-closing one.
string_view TagText(string_view text, size_t open, size_t close, size_t end) {
    string_view tag = text.substr(open + 1, close - open - 1);
    if (end == kSelfClosing && !tag.empty()) tag.remove_suffix(1);
    return tag;
}

string_view Content(string_view text, size_t close, size_t end) {
    return end == kSelfClosing ? string_view() : text.substr(close + 1, end - close - 1);
}

struct RootStart {
    size_t contentBegin = 0;  // just behind the ">" of Root's start tag
    bool selfClosing = false;
};

enum class RootSearch { kFound, kOtherFirst, kNeedMore };

// The first element of the document must be Root: any other first element,
// complete or not, makes a list that is not exactly one Root. kNeedMore
// when the text ends before the first element's tag does.
RootSearch FindRootStart(string_view text, RootStart& root) {
    size_t pos = 0;
    for (;;) {
        const size_t open = FindChar<'<'>(text, pos);
        if (open == npos) return RootSearch::kNeedMore;
        const size_t close = FindChar<'>'>(text, open);
        if (close == npos) return RootSearch::kNeedMore;
        string_view tag = text.substr(open + 1, close - open - 1);
        pos = close + 1;
        const xmlscan::TagKind kind = xmlscan::ClassifyTag(tag);
        if (kind == xmlscan::TagKind::kPassedOver) continue;
        root.selfClosing = kind == xmlscan::TagKind::kSelfClosing;
        root.contentBegin = pos;
        return TagName(tag) == kRootTag ? RootSearch::kFound : RootSearch::kOtherFirst;
    }
}

bool HasElement(string_view text) {
    bool found = false;
    xmlscan::ForEachElement(text, [&found](string_view, string_view) {
        found = true;
        return false;
    });
    return found;
}

// Appends the node the scanner makes for the element, starting from a copy
// of blank, a node made from an empty tag (cheaper than making each anew).
// A tag whose name is the whole tag text has no attributes: SetTag would
// give that name and nothing else.
void AddChild(std::vector<XmlNode>& nodes, const XmlNode& blank, string_view text, size_t open,
              size_t close, size_t end, string_view name) {
    const string_view tag = TagText(text, open, close, end);
    nodes.push_back(blank);
    XmlNode& node = nodes.back();
    if (name.size() == tag.size()) {
        node.m_sTagName.assign(name.data(), name.size());
    } else {
        node.SetTag(std::string(tag));
    }
    const string_view content = Trim(Content(text, close, end));
    node.m_sNodeContent.assign(content.data(), content.size());
}

// Room for the children still to come, projected from the bytes read so
// far, so that the list is not grown by doubling (a doubled array and its
// predecessor side by side would cost more memory than the file itself).
// The projection errs on the generous side: room that is never filled is
// never touched, so it costs address space but no memory. It never asks
// for more node memory than the file has bytes; beyond that, or when the
// projection was short, the list grows by half.
void MakeRoom(std::vector<XmlNode>& nodes, size_t bytesDone, size_t fileSize) {
    const size_t count = nodes.size();
    size_t wanted = count + count / 2 + 16;
    if (bytesDone > 0 && fileSize > bytesDone) {
        const double projected = static_cast<double>(count) * static_cast<double>(fileSize) /
                                 static_cast<double>(bytesDone);
        const size_t estimate = static_cast<size_t>(projected * 1.25) + 64;
        wanted = std::max(wanted, std::min(estimate, fileSize / sizeof(XmlNode)));
    }
    nodes.reserve(wanted);
}

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

static_assert(kBackupJobIdTag.size() == kErrorStringTag.size(), "two names share a length");

void AssignField(string_view name, string_view value, JobResults& result) {
    std::string* field = nullptr;
    switch (name.size()) {
        case kUrlTag.size():
            if (name == kUrlTag) field = &result.Url;
            break;
        case kSizeTag.size():
            if (name == kSizeTag) ParseSize(value, result.Size);
            return;
        case kClientNameTag.size():
            if (name == kClientNameTag) field = &result.ClientName;
            break;
        case kBackupJobIdTag.size():
            if (name == kBackupJobIdTag) field = &result.BackupJobId;
            if (name == kErrorStringTag) field = &result.ErrorString;
            break;
        default:
            return;
    }
    if (field != nullptr) field->assign(value.data(), value.size());
}

// The element whose "<" stands at open, when it is "<name>", a value with
// no "<" nor NUL byte, and "</name>": the position of the end tag's "<", else npos. The
// general scan gives such an element the same content: its first ">" ends
// the tag, and the first "<" behind it starts the first "</name>". The name
// is a template argument so that its compares are a few fixed-size loads.
template <const string_view& kName>
size_t CutPlainField(string_view text, size_t open) {
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
template <const string_view& kName>
bool IsEmptyField(string_view text, size_t open) {
    constexpr size_t kLength = kName.size();
    if (text.size() - open < kLength + 4) return false;
    const char* start = text.data() + open;
    return start[kLength + 1] == ' ' && start[kLength + 2] == '/' && start[kLength + 3] == '>' &&
           std::memcmp(start + 1, kName.data(), kLength) == 0;
}

// The next element from pos, when it is the field kName in one of the
// writer's two forms: its trimmed value goes to value and pos moves past it.
template <const string_view& kName>
bool TakePlainField(string_view content, size_t& pos, string_view& value) {
    const size_t open = NextOpenAfterBlanks(content, pos);
    if (open == npos) return false;
    if (IsEmptyField<kName>(content, open)) {
        value = string_view();
        pos = open + kName.size() + 4;
        return true;
    }
    const size_t end = CutPlainField<kName>(content, open);
    if (end == npos) return false;
    const size_t valueBegin = open + kName.size() + 2;
    value = Trim(content.substr(valueBegin, end - valueBegin));
    pos = end + kName.size() + 3;  // behind "</name>", which holds no other "<"
    return true;
}

// The writer's five fields in its order, each in one of its two forms, from
// pos on: how many of them stand there in a row. values[i] is the trimmed
// value of field i for each of them; pos moves behind the last.
constexpr size_t kFieldCount = 5;
using FieldValues = string_view[kFieldCount];

size_t TakePlainFields(string_view content, size_t& pos, FieldValues& values) {
    if (!TakePlainField<kClientNameTag>(content, pos, values[0])) return 0;
    if (!TakePlainField<kUrlTag>(content, pos, values[1])) return 1;
    if (!TakePlainField<kBackupJobIdTag>(content, pos, values[2])) return 2;
    if (!TakePlainField<kErrorStringTag>(content, pos, values[3])) return 3;
    if (!TakePlainField<kSizeTag>(content, pos, values[4])) return 4;
    return kFieldCount;
}

// Assigns the first count values that TakePlainFields found.
void AssignPlainFields(const FieldValues& values, size_t count, JobResults& record) {
    std::string* const strings[] = {&record.ClientName, &record.Url, &record.BackupJobId,
                                    &record.ErrorString};
    for (size_t i = 0; i < std::min(count, std::size(strings)); ++i) {
        strings[i]->assign(values[i].data(), values[i].size());
    }
    if (count == kFieldCount) ParseSize(values[kFieldCount - 1], record.Size);
}

// The record from pos on, when it is laid out exactly as the writer does
// it: "<JobResult>", the five plain fields in order, blanks, and its end
// tag; the fields go to record and endTag is the end tag's "<". The general
// scan cuts the same element and fills the same fields: no field holds a
// "<", so the first end tag of the record is this one and nothing in front
// of it can be Root's end tag; the fields are the first elements of the
// content, in the form the short way of FillRecord takes. The record is
// left alone unless the whole record is found.
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
    AssignPlainFields(values, kFieldCount, record);
    endTag = end;
    return true;
}

}  // namespace

// The bytes a writer may still rewrite lie at the end of its file: it
// appends only at or behind the offset of its trailer, that offset only
// moves forward, and the bytes in front of it are final. Every state the
// writer leaves, between and during its writes, is a complete document
// whose records are a prefix of the final ones; its temporary bytes (the
// trailer, the filler in front of a long record, the bytes of a save) can
// form no element with an end tag. A read that spans a write can join old
// tail bytes to new ones, but only from the trailer's offset on, so a child
// cut complete lies in front of it and is final: it is cut once, and the
// walk goes on behind it. What a writer can falsify is a verdict, which
// rests on the tail (Root's end tag, the text ending early). So the bytes
// behind the last child stay in the window until the verdict, and it stands
// only when the file still holds them; otherwise the window reads them
// again and the walk goes on from the last child. A refusal stands only
// when nothing has come behind those bytes either: a write in progress can
// show a file cut short. An accepted end may have bytes behind it: a
// document whose end tag still stands is a state the writer passed through
// (it writes behind its trailer before it overwrites it), so a writer that
// keeps appending does not hold the reader up. Without a writer this costs
// one short pread per file. Damage inside Root rests on the bytes held
// alone, wherever the file ends.
bool RootCursor::Settle(Step verdict) {
    bool changed = false;
    if (const int error = m_window.Recheck(verdict == Step::kInvalid, changed)) {
        Fail(error);
        return true;
    }
    if (!changed) {
        m_verdict = verdict;
        m_phase = Phase::kDone;
        return true;
    }
    m_rootEnd = FileWindow::kNotFound;
    if (m_phase != Phase::kHead) {
        m_phase = m_selfClosing ? Phase::kTail : Phase::kContent;
        m_pos = 0;
        m_tail = 0;
        m_damaged = false;
    }
    return false;
}

void RootCursor::Fail(int error) {
    m_error = error;
    m_verdict = Step::kFailed;
    m_phase = Phase::kDone;
}

// The window holds the file from its start until Root's start tag is found.
void RootCursor::Head() {
    RootStart root;
    for (;;) {
        const RootSearch found = FindRootStart(m_window.Text(), root);
        if (found == RootSearch::kFound) break;
        if (found == RootSearch::kOtherFirst || m_window.AtEnd()) {
            if (Settle(Step::kInvalid)) return;
            continue;
        }
        if (const int error = m_window.Advance(0)) return Fail(error);
    }
    m_selfClosing = root.selfClosing;
    m_pos = root.contentBegin;
    m_tail = root.contentBegin;
    m_recordEnd = m_window.Dropped() + root.contentBegin;
    m_phase = m_selfClosing ? Phase::kTail : Phase::kContent;
}

// Cuts children from m_pos on, reading on through the window, until visit
// pauses or Root's end tag is met.
template <class Visit>
void RootCursor::Children(Visit& visit, bool& paused) {
    for (;;) {
        const string_view text = m_window.Text();
        ElementWalker walker(text, kRootTag);
        // No writer puts a NUL byte into Root's content (zeroed pages do),
        // nor what is left of a record whose own tags were damaged: from
        // there on the children are damage.
        size_t gapFrom = m_pos;
        const auto cut = [&](size_t open, size_t close, size_t end, string_view name) {
            const bool selfClosing = end == kSelfClosing;
            const size_t behind = selfClosing ? close + 1 : end + name.size() + 3;
            const string_view content =
                selfClosing ? string_view() : text.substr(close + 1, end - close - 1);
            m_strayContent = m_strayContent || HoldsNul(text.substr(gapFrom, behind - gapFrom)) ||
                             IsRecordRemains(name, content);
            gapFrom = behind;
            m_holdWhole = false;
            if (m_strayContent) return true;
            m_lastIsRecord = name == kRecordTag;
            if (m_lastIsRecord) {
                m_recordStart = m_window.Dropped() + open;
                m_recordEnd = m_window.Dropped() + behind;
            }
            paused = !visit(text, open, close, end, name);
            return !paused;
        };
        m_pos = ScanLevel(walker, text, m_pos, cut);
        if (paused) {
            // Behind the child's end tag (the scan stops inside it), where
            // the short way of the next record starts.
            m_pos = std::max(m_pos, gapFrom);
            return;
        }
        // What the scan passed over behind the last child (markup without
        // elements) is dropped below.
        // (The scan's position may stand inside the last child's end tag.)
        if (m_pos > gapFrom) {
            m_strayContent = m_strayContent || HoldsNul(text.substr(gapFrom, m_pos - gapFrom));
            gapFrom = m_pos;
        }
        if (walker.StopPosition() != npos) {
            // The level ends cleanly when the next "<" is Root's end tag.
            const size_t open = FindChar<'<'>(text, m_pos);
            const size_t behindStop = walker.StopPosition() + kRootTag.size() + 3;
            // A torn write can only be told once the file is known to end
            // behind the stop tag.
            if (open != walker.StopPosition() && text.size() == behindStop && !m_window.AtEnd()) {
                if (const int error = m_window.Advance(m_pos)) return Fail(error);
                m_pos = 0;
                continue;
            }
            // A writer's short write at its trailer, cut by a kill, leaves
            // an element that is not closed at the end of the file: the
            // records in front of it are all the file holds, as before that
            // write. Anywhere else an element not closed is damage. (The
            // page boundary is one of the file, behind a skipped stretch
            // too.)
            m_damaged =
                open != walker.StopPosition() &&
                !(text.size() == behindStop &&
                  IsTornEndAt(text.substr(open), m_window.FileOffset(m_window.Dropped() + open)));
            m_strayContent =
                m_strayContent || HoldsNul(text.substr(gapFrom, walker.StopPosition() - gapFrom));
            m_tail = walker.StopPosition() + 1;
            m_phase = Phase::kTail;
            return;
        }
        if (m_recordsOnly && !m_holdWhole && !m_window.AtEnd() &&
            text.size() - m_pos > m_window.HoldLimit()) {
            if (const int error = PassOverLongChild(gapFrom)) return Fail(error);
            m_pos = 0;
            continue;
        }
        const bool ended = m_window.AtEnd();
        // At the end of the file this only drops the children cut.
        if (const int error = m_window.Advance(m_pos)) return Fail(error);
        m_pos = 0;
        // The text ends inside Root.
        if (ended && Settle(Step::kInvalid)) return;
    }
}

// Whatever follows Root must hold no element. A long text behind Root is
// judged in the file rather than held.
void RootCursor::Tail() {
    if (const int error = m_window.Advance(m_pos)) return Fail(error);
    m_tail -= m_pos;
    m_pos = 0;
    while (!m_window.AtEnd() && m_window.Text().size() - m_tail <= m_window.HoldLimit()) {
        if (const int error = m_window.Advance(0)) return Fail(error);
    }
    bool element = false;
    if (m_window.AtEnd()) {
        element = HasElement(m_window.Text().substr(m_tail));
    } else if (const int error = ElementAhead(m_window.Dropped() + m_tail, element)) {
        return Fail(error);
    }
    // A document that is not a single Root is refused as such, damaged or not.
    if (element) {
        Settle(Step::kInvalid);
    } else {
        Settle(m_damaged || m_tornRecord || m_strayContent || m_unclosed ? Step::kDamaged
                                                                         : Step::kEnd);
    }
}

template <class Visit>
RootCursor::Step RootCursor::Walk(Visit&& visit) {
    bool paused = false;
    while (!paused) {
        switch (m_phase) {
            case Phase::kHead:
                Head();
                break;
            case Phase::kContent:
                Children(visit, paused);
                break;
            case Phase::kTail:
                Tail();
                break;
            case Phase::kDone:
                return m_verdict;
        }
    }
    return Step::kChild;
}

RootCursor::Step RootCursor::FindRoot() {
    while (m_phase == Phase::kHead) Head();
    return m_phase == Phase::kDone ? m_verdict : Step::kChild;
}

RootCursor::Step RootCursor::CollectChildren(std::vector<XmlNode>& nodes) {
    const XmlNode blank{std::string(), std::string()};
    return Walk([&](string_view text, size_t open, size_t close, size_t end, string_view name) {
        if (nodes.size() == nodes.capacity()) {
            MakeRoom(nodes, m_window.Dropped() + open, m_window.FileSize());
        }
        AddChild(nodes, blank, text, open, close, end, name);
        return true;
    });
}

RootCursor::Step RootCursor::NextRecord(JobResults& record) {
    // Most records are as the writer wrote them: one pass over their bytes.
    size_t open = 0;
    size_t endTag = 0;
    if (m_phase == Phase::kContent &&
        CutPlainRecord(m_window.Text(), m_pos, record, open, endTag)) {
        m_lastIsRecord = true;
        m_recordStart = m_window.Dropped() + open;
        m_recordEnd = m_window.Dropped() + endTag + kRecordTag.size() + 3;
        m_pos = endTag + kRecordTag.size() + 3;  // behind the end tag
        return Step::kChild;
    }
    m_recordsOnly = true;
    const std::uint64_t soundStart = m_recordStart;
    const std::uint64_t soundEnd = m_recordEnd;
    bool torn = false;
    const Step step = Walk(
        [&record, &torn](string_view text, size_t, size_t close, size_t end, string_view name) {
            if (name != kRecordTag) return true;
            torn = !FillRecord(Trim(Content(text, close, end)), record);
            return false;
        });
    if (!torn) return step;
    // A record cut whole lies in front of any writer's trailer: its bytes
    // are final, and so is the damage in them. No record is delivered from
    // here on; the walk goes on only for the verdict on the document as a
    // whole, which an element behind Root makes invalid rather than damaged.
    m_tornRecord = true;
    const Step verdict =
        Walk([](string_view, size_t, size_t, size_t, string_view) { return true; });
    m_recordStart = soundStart;
    m_recordEnd = soundEnd;
    return verdict;
}

int ReadRootChildren(FileWindow& window, std::vector<XmlNode>& children) {
    RootCursor cursor(window);
    std::vector<XmlNode> nodes;
    switch (cursor.CollectChildren(nodes)) {
        case RootCursor::Step::kDamaged:
            nodes.emplace_back(std::string(), std::string());
            children.swap(nodes);
            return 0;
        case RootCursor::Step::kEnd:
            children.swap(nodes);
            return 0;
        case RootCursor::Step::kFailed:
            return cursor.Error();
        default:
            return kInvalidContent;
    }
}

// Whether text between a record's elements holds anything but blanks. The
// writer puts line breaks there. Text is what is left of a record's end tag
// whose "<" was damaged, markup ("<?...>", "<!...>") of one whose "/" was,
// each with the next record run into this one.
bool HoldsStrayText(string_view gap) {
    return std::any_of(gap.begin(), gap.end(), [](char c) { return !xmlscan::IsBlank(c); });
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
