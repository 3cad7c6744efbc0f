#include "jobresults/JobResultsScan.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "jobresults/JobResultsFormat.h"
#include "xml/XmlScan.h"

namespace jobresults {
namespace {

using std::string_view;
constexpr size_t npos = string_view::npos;
constexpr string_view kRootEndTag = "</Root>";
// The end position of an element that has no end tag.
constexpr size_t kSelfClosing = npos;

bool StartsWithAt(string_view text, size_t pos, string_view prefix) {
    return text.size() - pos >= prefix.size() &&
           std::memcmp(text.data() + pos, prefix.data(), prefix.size()) == 0;
}

size_t FindByteBefore(string_view text, char byte, size_t from, size_t to) {
    if (from >= to) return npos;
    const void* hit = std::memchr(text.data() + from, byte, to - from);
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - text.data()) : npos;
}

// Finds the markup of one level of elements, looking at every "<" once. With
// a stop tag the level ends at its first occurrence (Root's content ends at
// the first "</Root>"); the walker notes it when it meets it, so finding the
// end of the level costs no search of its own.
class ElementWalker {
public:
    ElementWalker(string_view text, string_view stopTag) : m_text(text), m_stopTag(stopTag) {}

    // The first "<" at or after from, inside the level.
    size_t NextOpen(size_t from) {
        const size_t lt = xmlscan::FindByte(m_text, '<', from);
        return lt == npos || IsStop(lt) ? npos : lt;
    }

    // The ">" that closes the tag opened at open, inside the level.
    size_t FindClose(size_t open) {
        const size_t gt = xmlscan::FindByte(m_text, '>', open);
        if (gt == npos || m_stopTag.empty()) return gt;
        for (size_t lt = FindByteBefore(m_text, '<', open + 1, gt); lt != npos;
             lt = FindByteBefore(m_text, '<', lt + 1, gt)) {
            if (IsStop(lt)) return npos;
        }
        return gt;
    }

    // The first occurrence of endTag at or after from that lies wholly
    // inside the level.
    size_t FindEndTag(string_view endTag, size_t from) {
        for (size_t lt = xmlscan::FindByte(m_text, '<', from); lt != npos;
             lt = xmlscan::FindByte(m_text, '<', lt + 1)) {
            if (IsStop(lt)) return npos;
            if (StartsWithAt(m_text, lt, endTag)) return CrossesStop(lt, endTag) ? npos : lt;
        }
        return npos;
    }

    // Where the stop tag was met, or npos.
    size_t StopPosition() const { return m_nStop; }

private:
    bool IsStop(size_t lt) {
        if (m_stopTag.empty() || !StartsWithAt(m_text, lt, m_stopTag)) return false;
        m_nStop = lt;
        return true;
    }

    // An end tag whose name holds "<" can hide the stop tag inside itself.
    bool CrossesStop(size_t lt, string_view endTag) {
        if (m_stopTag.empty() || endTag.find('<', 1) == npos) return false;
        const size_t windowEnd = lt + endTag.size() - 1 + m_stopTag.size();
        const string_view window = m_text.substr(0, windowEnd < m_text.size() ? windowEnd : m_text.size());
        const size_t stop = xmlscan::Find(window, m_stopTag, lt + 1);
        if (stop == npos || stop >= lt + endTag.size()) return false;
        m_nStop = stop;
        return true;
    }

    string_view m_text;
    string_view m_stopTag;
    size_t m_nStop = npos;
};

// The flat scanner's rules for one level: tags starting with "!" or "?" are
// passed over, a tag ending in "/" (or empty) is an element without content,
// any other element ends at the first end tag of its name; the level ends at
// a tag without ">" or an element without its end tag. visit(open, close,
// end) gets the positions of "<" and ">" of the start tag and of the "<" of
// the end tag (kSelfClosing when there is none).
template <class Visit>
void ScanLevel(ElementWalker& walker, string_view text, size_t pos, Visit&& visit) {
    std::string endTag;
    for (;;) {
        const size_t open = walker.NextOpen(pos);
        if (open == npos) return;
        const size_t close = walker.FindClose(open);
        if (close == npos) return;
        const string_view tag = text.substr(open + 1, close - open - 1);
        pos = close + 1;
        if (!tag.empty() && (tag.front() == '!' || tag.front() == '?')) continue;
        if (tag.empty() || tag.back() == '/') {
            visit(open, close, kSelfClosing);
            continue;
        }
        const string_view name = xmlscan::TagName(tag);
        endTag.assign("</").append(name.data(), name.size()).append(">");
        const size_t end = walker.FindEndTag(endTag, pos);
        if (end == npos) return;
        visit(open, close, end);
        pos = end + 1;
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

// The name the scanner gives an element with this tag text.
string_view ElementName(string_view tag) { return tag.empty() ? tag : xmlscan::TagName(tag); }

struct RootStart {
    size_t contentBegin = 0;  // just behind the ">" of Root's start tag
    bool selfClosing = false;
};

// The first element of the document must be Root: any other first element,
// complete or not, makes a list that is not exactly one Root.
bool FindRootStart(string_view text, RootStart& root) {
    size_t pos = 0;
    for (;;) {
        const size_t open = xmlscan::FindByte(text, '<', pos);
        if (open == npos) return false;
        const size_t close = xmlscan::FindByte(text, '>', open);
        if (close == npos) return false;
        string_view tag = text.substr(open + 1, close - open - 1);
        pos = close + 1;
        if (!tag.empty() && (tag.front() == '!' || tag.front() == '?')) continue;
        root.selfClosing = tag.empty() || tag.back() == '/';
        root.contentBegin = pos;
        if (root.selfClosing && !tag.empty()) tag.remove_suffix(1);
        return ElementName(tag) == kRootTag;
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

struct ChildSpan {
    size_t open;
    size_t end;
};

XmlNode MakeChild(string_view text, const ChildSpan& span) {
    const size_t close = xmlscan::FindByte(text, '>', span.open);
    return xmlscan::MakeNode(TagText(text, span.open, close, span.end),
                             Content(text, close, span.end));
}

bool IsDigits(string_view text) {
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// sscanf "%llu" on the content: leading white space and a sign are allowed,
// "-1" wraps, too many digits give the largest value, no digits keep the
// field. Short plain digit strings, the usual case, are converted directly.
void ParseSize(string_view text, unsigned long long& size) {
    constexpr size_t kSafeDigits = 19;
    if (!text.empty() && text.size() <= kSafeDigits && IsDigits(text)) {
        unsigned long long value = 0;
        for (const char c : text) value = value * 10 + static_cast<unsigned>(c - '0');
        size = value;
        return;
    }
    const std::string terminated(text);
    unsigned long long value = 0;
    if (std::sscanf(terminated.c_str(), "%llu", &value) == 1) size = value;
}

void AssignField(string_view name, string_view value, JobResults& result) {
    if (name == kClientNameTag) {
        result.ClientName.assign(value.data(), value.size());
    } else if (name == kUrlTag) {
        result.Url.assign(value.data(), value.size());
    } else if (name == kBackupJobIdTag) {
        result.BackupJobId.assign(value.data(), value.size());
    } else if (name == kErrorStringTag) {
        result.ErrorString.assign(value.data(), value.size());
    } else if (name == kSizeTag) {
        ParseSize(value, result.Size);
    }
}

}  // namespace

bool ReadRootChildren(FileImage& image, std::vector<XmlNode>& children) {
    const string_view text = image.Text();
    RootStart root;
    if (!FindRootStart(text, root)) return false;
    std::vector<ChildSpan> spans;
    size_t after = root.contentBegin;
    if (!root.selfClosing) {
        ElementWalker walker(text, kRootEndTag);
        ScanLevel(walker, text, root.contentBegin,
                  [&spans](size_t open, size_t, size_t end) { spans.push_back({open, end}); });
        size_t rootEnd = walker.StopPosition();
        if (rootEnd == npos) rootEnd = xmlscan::Find(text, kRootEndTag, root.contentBegin);
        if (rootEnd == npos) return false;
        after = rootEnd + 1;
    }
    if (HasElement(text.substr(after))) return false;

    // Exactly as many nodes as children: no growth, so no second array.
    std::vector<XmlNode> nodes;
    nodes.reserve(spans.size());
    for (const ChildSpan& span : spans) {
        image.ReleaseBefore(span.open);
        nodes.push_back(MakeChild(text, span));
    }
    children.swap(nodes);
    return true;
}

void FillRecord(string_view content, JobResults& result) {
    ElementWalker walker(content, string_view());
    ScanLevel(walker, content, 0, [&](size_t open, size_t close, size_t end) {
        AssignField(ElementName(TagText(content, open, close, end)),
                    xmlscan::Trim(Content(content, close, end)), result);
    });
}

}  // namespace jobresults
