// The look-ahead of the cursor: an element that outgrows the window is
// looked for in the file with small reads instead of being held, so that
// damaged and hostile files cost no more memory than sound ones. Only a
// record that closes is held after all; the text behind Root is judged the
// same way.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "jobresults/detail/FileWindow.h"
#include "jobresults/detail/JobResultsFormat.h"
#include "jobresults/detail/JobResultsLayout.h"
#include "jobresults/detail/RootCursor.h"
#include "xml/detail/XmlScan.h"
#include "xml/detail/XmlSimd.h"

namespace jobresults {
namespace {

using std::string_view;
constexpr size_t npos = string_view::npos;
using xmlscan::FindChar;
using xmlscan::TagName;

// The most of a tag's text read from the file when an element is looked
// for there; a longer tag is cut as usual.
constexpr size_t kLongestTag = size_t{64} << 10;

// The text between the "<" at open and the ">" at close, read from the file
// (at most kLongestTag bytes of it).
int ReadTagText(const FileWindow& window, std::uint64_t open, std::uint64_t close,
                std::string& text) {
    const size_t length = static_cast<size_t>(close - open - 1);
    return window.ReadAt(open + 1, std::min(length, kLongestTag), text);
}

}  // namespace

// Whether the file holds an element from offset `from` on, as the flat scan
// finds the first one, looked for in the file.
int RootCursor::ElementAhead(std::uint64_t from, bool& found) {
    found = false;
    std::uint64_t unused = 0;
    for (std::uint64_t pos = from;;) {
        std::uint64_t open = 0;
        std::uint64_t close = 0;
        if (const int error = m_window.FindAhead(pos, "<", open, unused)) return error;
        if (open == FileWindow::kNotFound) return 0;
        if (const int error = m_window.FindAhead(open + 1, ">", close, unused)) return error;
        if (close == FileWindow::kNotFound) return 0;
        std::string tagText;
        if (const int error = ReadTagText(m_window, open, close, tagText)) return error;
        string_view tag = tagText;
        const xmlscan::TagKind kind = xmlscan::ClassifyTag(tag);
        if (kind == xmlscan::TagKind::kPassedOver) {
            pos = close + 1;
            continue;
        }
        if (kind == xmlscan::TagKind::kSelfClosing) return found = true, 0;
        std::uint64_t end = 0;
        const std::string endTag = "</" + std::string(TagName(tag)) + ">";
        if (const int error = m_window.FindAhead(close + 1, endTag, end, unused)) return error;
        found = end != FileWindow::kNotFound;
        return 0;
    }
}

// The child from m_pos on has grown past what the window may hold: its
// end is looked for in the file, never further than Root's end tag. Text
// without markup is dropped; a record that closes is held after all; any
// other element that closes is passed over; an element not closed is
// damage, unless a kill may have left it at the end of the file (then it is
// held to be judged as usual).
int RootCursor::PassOverLongChild(size_t gapFrom) {
    const string_view text = m_window.Text();
    const size_t open = FindChar<'<'>(text, m_pos);
    const size_t markupFrom = open == npos ? text.size() : open;
    m_strayContent = m_strayContent || HoldsNul(text.substr(gapFrom, markupFrom - gapFrom));
    const std::uint64_t start = m_window.Dropped() + markupFrom;
    if (open == npos) return m_window.SeekTo(start);
    // Root's end tag, found once: the first one behind any child.
    if (m_rootEnd == FileWindow::kNotFound || m_rootEnd < start) {
        const std::string rootEnd = "</" + std::string(kRootTag) + ">";
        if (const int error = m_window.FindAhead(start, rootEnd, m_rootEnd, m_fileEnd)) {
            return error;
        }
    }
    // Root's end tag itself, not yet whole in the window: held until it is.
    if (m_rootEnd == start) {
        m_holdWhole = true;
        return m_window.SeekTo(start);
    }
    // Without Root's end tag the text ends inside Root, behind the elements
    // that close before the file ends.
    return PassOverElement(start, m_rootEnd == FileWindow::kNotFound ? m_fileEnd : m_rootEnd);
}

int RootCursor::PassOverElement(std::uint64_t start, std::uint64_t stop) {
    std::uint64_t close = 0;
    std::uint64_t unused = 0;
    if (const int error = m_window.FindAhead(start + 1, ">", close, unused, stop)) return error;
    if (close == FileWindow::kNotFound) return PassOverUnclosed(start, stop);
    std::string tagText;
    const size_t tagLength = static_cast<size_t>(close - start - 1);
    if (const int error = ReadTagText(m_window, start, close, tagText)) return error;
    string_view tag = tagText;
    const xmlscan::TagKind kind = xmlscan::ClassifyTag(tag);
    const string_view name = TagName(tag);
    if (kind == xmlscan::TagKind::kPassedOver) return PassOverBytes(start, close + 1);
    // A name that may hide Root's end tag, or one too long to read, is cut
    // as usual.
    if (name.find('<') != npos || tagLength > kLongestTag) {
        m_holdWhole = true;
        return m_window.SeekTo(start);
    }
    std::uint64_t end = close + 1;
    const std::string endTag = "</" + std::string(name) + ">";
    if (kind == xmlscan::TagKind::kStart) {
        if (const int error = m_window.FindAhead(close + 1, endTag, end, unused, stop))
            return error;
        if (end == FileWindow::kNotFound) return PassOverUnclosed(start, stop);
        end += endTag.size();
    }
    if (name == kRecordTag) {
        m_holdWhole = true;  // a record that closes: held up to its end tag
        return m_window.SeekTo(start);
    }
    m_lastIsRecord = false;
    bool remains = IsFieldName(name);
    if (!remains && kind == xmlscan::TagKind::kStart) {
        if (const int error = FormatTagAhead(close + 1, end - endTag.size(), remains)) return error;
    }
    m_strayContent = m_strayContent || remains;
    return PassOverBytes(start, end);
}

// Whether the file holds a tag of the format's own from `from` to `to`
// (an element's content passed over: IsRecordRemains, in the file), read
// in pieces that each repeat the last bytes of the one before, so that a
// tag split between two is seen.
int RootCursor::FormatTagAhead(std::uint64_t from, std::uint64_t to, bool& found) const {
    constexpr size_t kPiece = size_t{16} << 10;
    std::string piece;
    found = false;
    for (std::uint64_t at = from; at < to && !found;) {
        const std::uint64_t begin = at == from ? at : at - kLongestFormatTag;
        const auto length = static_cast<size_t>(std::min<std::uint64_t>(kPiece, to - begin));
        if (const int error = m_window.ReadAt(begin, length, piece)) return error;
        if (begin + piece.size() <= at) break;  // the file ended early
        found = !FormatTagIn(piece).empty();
        at = begin + piece.size();
    }
    return 0;
}

// Goes on at `end`; a NUL byte in what is passed over is damage, as it is
// where the window holds the bytes.
int RootCursor::PassOverBytes(std::uint64_t start, std::uint64_t end) {
    std::uint64_t nul = 0;
    std::uint64_t unused = 0;
    if (const int error = m_window.FindAhead(start, string_view("\0", 1), nul, unused, end)) {
        return error;
    }
    m_strayContent = m_strayContent || nul != FileWindow::kNotFound;
    return m_window.SeekTo(end);
}

// An element not closed before Root's end tag: damage, unless it begins as
// a torn write that a kill left at the end of the file.
int RootCursor::PassOverUnclosed(std::uint64_t start, std::uint64_t stop) {
    if (m_rootEnd == FileWindow::kNotFound) return m_window.SeekTo(stop);  // the file's end
    const std::uint64_t behindStop = stop + kRootTag.size() + 3;
    std::string head;
    std::string behind;
    if (const int error = m_window.ReadAt(start, kTornStateLength, head)) return error;
    if (const int error = m_window.ReadAt(behindStop, 1, behind)) return error;
    const bool mayBeTorn = behind.empty() && (IsTornAppendAt(head, m_window.FileOffset(start)) ||
                                              behindStop - start < kTornStateLength);
    m_holdWhole = mayBeTorn;
    m_unclosed = m_unclosed || !mayBeTorn;
    return m_window.SeekTo(mayBeTorn ? start : stop);
}

}  // namespace jobresults
