// One level of elements, cut as the flat element scanner cuts it, in one
// pass over the text: the tools that the cursor over Root's children and the
// fill of a record's fields share. Header-only: the level is walked with a
// visitor, inlined into each walk.
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_ELEMENTSCAN_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_ELEMENTSCAN_H

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "xml/detail/XmlScan.h"
#include "xml/detail/XmlSimd.h"

namespace jobresults {
namespace elementscan {

using std::string_view;
inline constexpr size_t npos = string_view::npos;
// The end position of an element that has no end tag.
inline constexpr size_t kSelfClosing = npos;

using xmlscan::FindChar;
using xmlscan::ScanEndTagStarts;
using xmlscan::TagName;

inline bool Matches(const char* at, string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (at[i] != text[i]) return false;
    }
    return true;
}

// Whether "</" + name + ">" stands at lt.
inline bool IsEndTagAt(string_view text, size_t lt, string_view name) {
    if (text.size() - lt < name.size() + 3) return false;
    const char* at = text.data() + lt;
    return at[1] == '/' && at[name.size() + 2] == '>' && Matches(at + 2, name);
}

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
inline string_view TagText(string_view text, size_t open, size_t close, size_t end) {
    string_view tag = text.substr(open + 1, close - open - 1);
    if (end == kSelfClosing && !tag.empty()) tag.remove_suffix(1);
    return tag;
}

inline string_view Content(string_view text, size_t close, size_t end) {
    return end == kSelfClosing ? string_view() : text.substr(close + 1, end - close - 1);
}

inline bool HasElement(string_view text) {
    bool found = false;
    xmlscan::ForEachElement(text, [&found](string_view, string_view) {
        found = true;
        return false;
    });
    return found;
}

// Whether text between a record's elements holds anything but blanks. The
// writer puts line breaks there. Text is what is left of a record's end tag
// whose "<" was damaged, markup ("<?...>", "<!...>") of one whose "/" was,
// each with the next record run into this one.
inline bool HoldsStrayText(string_view gap) {
    return std::any_of(gap.begin(), gap.end(), [](char c) { return !xmlscan::IsBlank(c); });
}

}  // namespace elementscan
}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_ELEMENTSCAN_H
