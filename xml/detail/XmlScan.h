// Internal to the library: the flat element scanner on borrowed text, so that
// callers inside the library can cut elements out of a buffer without first
// copying it into a std::string or materialising a node list.
#ifndef CIJOBRESULTS_XML_DETAIL_XMLSCAN_H
#define CIJOBRESULTS_XML_DETAIL_XMLSCAN_H

#include <cstring>
#include <string>
#include <string_view>

#include "xml/detail/XmlSimd.h"

namespace xmlscan {

inline bool IsBlank(char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t'; }

// A plain loop: the ends of tag texts and contents rarely hold more than a
// few blanks, and find_first_not_of tests every byte against a set.
inline std::string_view Trim(std::string_view text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

inline bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// Position of needle in text at or after from, or npos. memmem is linear in
// the worst case, which keeps hostile tag names from making scans quadratic.
inline size_t Find(std::string_view text, std::string_view needle, size_t from) {
    if (from > text.size()) return std::string_view::npos;
    const void* hit = memmem(text.data() + from, text.size() - from, needle.data(), needle.size());
    if (hit == nullptr) return std::string_view::npos;
    return static_cast<size_t>(static_cast<const char*>(hit) - text.data());
}

inline size_t FindByte(std::string_view text, char byte, size_t from) {
    if (from >= text.size()) return std::string_view::npos;
    const void* hit = memchr(text.data() + from, byte, text.size() - from);
    if (hit == nullptr) return std::string_view::npos;
    return static_cast<size_t>(static_cast<const char*>(hit) - text.data());
}

// The element name that SetTag derives from a tag text: trimmed, up to the
// first space.
inline std::string_view TagName(std::string_view tagText) {
    const std::string_view trimmed = Trim(tagText);
    size_t end = 0;
    while (end < trimmed.size() && trimmed[end] != ' ') ++end;
    return trimmed.substr(0, end);
}

// What the scanner makes of a tag text, the bytes between a "<" and the
// first ">" after it: markup opening with "!" or "?" (declarations,
// comments, processing instructions) is passed over; an empty tag text or
// one ending in "/" is an element that closes itself; any other text is a
// start tag, whose element ends at the first end tag of its name.
enum class TagKind { kPassedOver, kSelfClosing, kStart };

// Classifies tagText and drops the final "/" of a self-closing tag.
inline TagKind ClassifyTag(std::string_view& tagText) {
    if (!tagText.empty() && (tagText.front() == '!' || tagText.front() == '?')) {
        return TagKind::kPassedOver;
    }
    if (!tagText.empty() && tagText.back() != '/') return TagKind::kStart;
    if (!tagText.empty()) tagText.remove_suffix(1);
    return TagKind::kSelfClosing;
}

// Visits the top-level elements of text in document order. For each element
// visit(tagText, name, content) is called: tagText is the text between "<"
// and ">" (without the final "/" of a self-closing tag), name the element
// name SetTag gives it, content the untrimmed text between the start tag and
// the end tag (empty when self-closing). visit returns false to end the scan
// early. The result is false when the scan stopped at a "<" without ">" or
// at a start tag without its end tag.
template <class Visit>
bool ForEachNamedElement(std::string_view text, Visit&& visit) {
    size_t pos = 0;
    for (;;) {
        const size_t open = FindChar<'<'>(text, pos);
        if (open == std::string_view::npos) return true;
        const size_t close = FindChar<'>'>(text, open);
        if (close == std::string_view::npos) return false;
        std::string_view tagText = text.substr(open + 1, close - open - 1);
        pos = close + 1;
        const TagKind kind = ClassifyTag(tagText);
        if (kind == TagKind::kPassedOver) continue;
        if (kind == TagKind::kSelfClosing) {
            if (!visit(tagText, TagName(tagText), std::string_view())) return true;
            continue;
        }
        const std::string_view name = TagName(tagText);
        const size_t end = FindEndTag(text, name, pos);
        if (end == std::string_view::npos) return false;
        const std::string_view content = text.substr(pos, end - pos);
        pos = end + 1;
        if (!visit(tagText, name, content)) return true;
    }
}

// The same walk for visitors that need no name: visit(tagText, content).
template <class Visit>
bool ForEachElement(std::string_view text, Visit&& visit) {
    return ForEachNamedElement(
        text, [&visit](std::string_view tagText, std::string_view, std::string_view content) {
            return visit(tagText, content);
        });
}

}  // namespace xmlscan

#endif  // CIJOBRESULTS_XML_DETAIL_XMLSCAN_H
