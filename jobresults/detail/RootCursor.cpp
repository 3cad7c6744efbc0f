#include "jobresults/detail/RootCursor.h"

#include <algorithm>
#include <string>

#include "jobresults/detail/ElementScan.h"
#include "jobresults/detail/JobResultsFormat.h"
#include "jobresults/detail/JobResultsLayout.h"
#include "jobresults/detail/PlainRecord.h"
#include "xml/detail/XmlScan.h"

namespace jobresults {
namespace {

using elementscan::Content;
using elementscan::ElementWalker;
using elementscan::FindChar;
using elementscan::HasElement;
using elementscan::kSelfClosing;
using elementscan::npos;
using elementscan::ScanLevel;
using elementscan::TagText;
using std::string_view;
using xmlscan::TagName;
using xmlscan::Trim;

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
            if (EndContent(text, walker.StopPosition(), gapFrom)) return;
            continue;
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

// Root's end tag was met at `stop` while cutting from m_pos: true once the
// content is judged (or a read failed), false when the window read on to
// tell a torn write and the cut goes on.
bool RootCursor::EndContent(string_view text, size_t stop, size_t gapFrom) {
    // The level ends cleanly when the next "<" is Root's end tag.
    const size_t open = FindChar<'<'>(text, m_pos);
    const size_t behindStop = stop + kRootTag.size() + 3;
    // A torn write can only be told once the file is known to end behind
    // the stop tag.
    if (open != stop && text.size() == behindStop && !m_window.AtEnd()) {
        if (const int error = m_window.Advance(m_pos)) {
            Fail(error);
            return true;
        }
        m_pos = 0;
        return false;
    }
    // A writer's short write at its trailer, cut by a kill, leaves an
    // element that is not closed at the end of the file: the records in
    // front of it are all the file holds, as before that write. Anywhere
    // else an element not closed is damage. (The page boundary is one of
    // the file, behind a skipped stretch too.)
    m_damaged = open != stop &&
                !(text.size() == behindStop &&
                  IsTornEndAt(text.substr(open), m_window.FileOffset(m_window.Dropped() + open)));
    m_strayContent = m_strayContent || HoldsNul(text.substr(gapFrom, stop - gapFrom));
    m_tail = stop + 1;
    m_phase = Phase::kTail;
    return true;
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

}  // namespace jobresults
