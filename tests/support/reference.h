// The library's reading rules written out plainly, as the references that
// tests and fuzz targets compare the library with: trimming, the flat
// element scan, and what the reader delivers for a text (worked out with
// the library's scanner level by level). The reader's tag names come from
// the caller: the tests take them from their golden files, the fuzz targets
// from the library's format.
#ifndef CIJOBRESULTS_TESTS_SUPPORT_REFERENCE_H
#define CIJOBRESULTS_TESTS_SUPPORT_REFERENCE_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jobresults/cijobresults.h"
#include "xml/XmlNode.h"

namespace testsupport {

inline bool IsBlank(char byte) {
    return byte == ' ' || byte == '\r' || byte == '\n' || byte == '\t';
}

// The text without the blanks, tabs and line breaks around it.
inline std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// An element as the scan rules cut it.
struct ScannedElement {
    std::string tagText;  // without the "/" of a self-closing tag
    std::string name;     // the trimmed tag text up to its first blank
    std::string content;  // trimmed
    size_t behind = 0;    // where the element ends in the text scanned
};

// The flat scan: find "<" and the first ">" after it, pass over "!" and "?"
// forms, take a tag ending in "/" (or an empty one) as self-closing, and
// otherwise the content up to the first "</name>". Returns false where an
// element is not closed, with failedAt (when given) at its "<".
inline bool ReferenceScan(const std::string& text, std::vector<ScannedElement>& elements,
                          size_t* failedAt = nullptr) {
    elements.clear();
    size_t open = 0;
    const auto fail = [&] {
        if (failedAt != nullptr) *failedAt = open;
        return false;
    };
    for (size_t pos = 0;;) {
        open = text.find('<', pos);
        if (open == std::string::npos) return true;
        const size_t close = text.find('>', open);
        if (close == std::string::npos) return fail();
        std::string tagText = text.substr(open + 1, close - open - 1);
        pos = close + 1;
        if (!tagText.empty() && (tagText[0] == '!' || tagText[0] == '?')) continue;
        const bool selfClosing = tagText.empty() || tagText.back() == '/';
        if (!tagText.empty() && selfClosing) tagText.pop_back();
        const std::string_view trimmed = Trimmed(tagText);
        std::string name(trimmed.substr(0, trimmed.find(' ')));
        if (selfClosing) {
            elements.push_back({std::move(tagText), std::move(name), std::string(), pos});
            continue;
        }
        const size_t end = text.find("</" + name + ">", pos);
        if (end == std::string::npos) return fail();
        const std::string content(Trimmed(std::string_view(text).substr(pos, end - pos)));
        const size_t behind = end + name.size() + 3;  // before name is moved
        elements.push_back({std::move(tagText), std::move(name), content, behind});
        pos = end + 1;
    }
}

// Whether a scanned text holds anything but blanks outside its elements.
inline bool HoldsStrayText(const std::string& text, const std::vector<ScannedElement>& elements) {
    size_t next = 0;
    for (size_t pos = 0;;) {
        const size_t open = text.find('<', pos);
        const size_t stop = open == std::string::npos ? text.size() : open;
        if (!Trimmed(std::string_view(text).substr(pos, stop - pos)).empty()) return true;
        if (open == std::string::npos) return false;
        const bool markup = text[open + 1] == '!' || text[open + 1] == '?';
        if (markup || next == elements.size()) return true;
        pos = elements[next++].behind;
    }
}

struct RecordNames {
    std::string root;
    std::string record;
    // The field tags of ClientName, Url, BackupJobId, ErrorString and Size.
    std::vector<std::string> fields;
};

// Whether text holds a start, end or empty tag of one of the format's names.
inline bool HoldsFormatTag(const std::string& text, const RecordNames& names) {
    std::vector<std::string> all = {names.root, names.record};
    all.insert(all.end(), names.fields.begin(), names.fields.end());
    for (const std::string& name : all) {
        for (const std::string& tag : {"<" + name + ">", "</" + name + ">", "<" + name + " />"}) {
            if (text.find(tag) != std::string::npos) return true;
        }
    }
    return false;
}

// Tells whether the text from the "<" of the element at which the scan of
// the root's content stopped, at that offset of the file, to the file's end
// is what a writer's write cut short by a kill leaves.
using TornWriteTest = bool (*)(std::string_view toEnd, std::uint64_t offset);

// The start tag of the text's first element: where its content begins
// (behind the ">"), and whether it closes the element itself (its text is
// empty or ends in "/"; a "<" before the ">" does not).
struct FirstTag {
    size_t contentStart;
    bool selfClosing;
};
inline FirstTag FirstStartTag(const std::string& text) {
    for (size_t pos = 0;;) {
        const size_t open = text.find('<', pos);
        const size_t close = text.find('>', open);
        pos = close + 1;
        if (text[open + 1] != '!' && text[open + 1] != '?') {
            return {pos, close == open + 1 || text[close - 1] == '/'};
        }
    }
}

// The children of the text's only top-level element when that element is
// the root; false (and no children) when the text is not such a document.
// Where the root's content is damaged (an element in it not closed, and not
// the writer's torn write at the end of the file), the children before the
// damage are followed by a node with an empty name, which is no record.
inline bool ReferenceRootChildren(const std::string& text, const RecordNames& names,
                                  std::vector<XmlNode>& children,
                                  TornWriteTest isTornWrite = nullptr, bool* damaged = nullptr) {
    children.clear();
    std::vector<XmlNode> top;
    XmlNode::GetXMLNodeList(text, top);
    if (top.size() != 1 || top[0].GetTagName() != names.root) return false;
    XmlNode::GetXMLNodeList(top[0].GetNodeContent(), children);
    // The same content untrimmed, to place the damage in the file.
    const auto [start, selfClosing] = FirstStartTag(text);
    const std::string content =
        selfClosing ? std::string()
                    : text.substr(start, text.find("</" + names.root + ">", start) - start);
    std::vector<ScannedElement> scanned;
    size_t failedAt = 0;
    bool damage = !ReferenceScan(content, scanned, &failedAt) &&
                  !(isTornWrite != nullptr &&
                    isTornWrite(std::string_view(text).substr(start + failedAt), start + failedAt));
    // A NUL byte in the content is damage: no child from the one that holds
    // it (or the gap in front of it) on.
    const size_t nul = content.find('\0');
    if (nul != std::string::npos) {
        size_t kept = 0;
        while (kept < scanned.size() && scanned[kept].behind <= nul) ++kept;
        children.erase(
            children.begin() + static_cast<std::ptrdiff_t>(std::min(children.size(), kept)),
            children.end());
        damage = true;
    }
    // So is what is left of a record whose own tags were damaged: a field
    // outside any record, or another element that holds a format tag.
    const auto stray = std::find_if(children.begin(), children.end(), [&](const XmlNode& child) {
        const std::string& name = child.GetTagName();
        return std::count(names.fields.begin(), names.fields.end(), name) > 0 ||
               (name != names.record && HoldsFormatTag(child.GetNodeContent(), names));
    });
    damage = damage || stray != children.end();
    children.erase(stray, children.end());
    if (damage) {
        children.emplace_back(std::string(), std::string());
        if (damaged != nullptr) *damaged = true;
    }
    return true;
}

// Whether a record's content is whole, every element in it closed, no text
// between its elements, no tag holding a "<", and no field's value one that
// no writer stores (a format tag, a NUL byte): the readers deliver no record
// that is not, nor any behind it.
inline bool ReferenceRecordIsWhole(const XmlNode& element, const RecordNames& names) {
    std::vector<ScannedElement> elements;
    if (!ReferenceScan(element.GetNodeContent(), elements)) return false;
    for (const ScannedElement& field : elements) {
        const bool isField =
            std::find(names.fields.begin(), names.fields.end(), field.name) != names.fields.end();
        if (field.tagText.find('<') != std::string::npos ||
            (isField && (field.content.find('\0') != std::string::npos ||
                         HoldsFormatTag(field.content, names)))) {
            return false;
        }
    }
    return !HoldsStrayText(element.GetNodeContent(), elements);
}

// A record element read into `record`: each field from the last element of
// its name, Size as sscanf "%llu" reads it; fields it lacks keep their value.
inline JobResults ReferenceRecord(const XmlNode& element, const RecordNames& names,
                                  JobResults record) {
    std::string* const text[] = {&record.ClientName, &record.Url, &record.BackupJobId,
                                 &record.ErrorString};
    std::vector<XmlNode> fields;
    XmlNode::GetXMLNodeList(element.GetNodeContent(), fields);
    for (const XmlNode& field : fields) {
        for (size_t i = 0; i < names.fields.size(); ++i) {
            if (field.GetTagName() != names.fields[i]) continue;
            if (i < 4) *text[i] = field.GetNodeContent();
            if (i == 4) std::sscanf(field.GetNodeContent().c_str(), "%llu", &record.Size);
        }
    }
    return record;
}

// What the readers deliver from a root's children (as ReferenceRootChildren
// gives them): the records in order, each filled over `untouched`, up to a
// torn record, which ends the reading; whether the last child is a record
// (the classic reader then ends with 0 rather than with 1 and a -1).
struct ReferenceWalk {
    std::vector<JobResults> records;
    bool torn = false;
    bool endsWithRecord = false;
};

inline ReferenceWalk ReferenceRecords(const std::vector<XmlNode>& children,
                                      const RecordNames& names, const JobResults& untouched) {
    ReferenceWalk walk;
    for (const XmlNode& child : children) {
        if (child.GetTagName() != names.record) continue;
        walk.torn = !ReferenceRecordIsWhole(child, names);
        if (walk.torn) return walk;
        walk.records.push_back(ReferenceRecord(child, names, untouched));
    }
    walk.endsWithRecord = !children.empty() && children.back().GetTagName() == names.record;
    return walk;
}

inline JobResults MakeRecord(std::string client, std::string url, std::string jobId,
                             std::string error, unsigned long long size) {
    JobResults record;
    record.ClientName = std::move(client);
    record.Url = std::move(url);
    record.BackupJobId = std::move(jobId);
    record.ErrorString = std::move(error);
    record.Size = size;
    return record;
}

// A caller's record before the reader fills it: fields the file lacks must
// keep these values.
inline JobResults UntouchedRecord() {
    return MakeRecord("unset client", "unset url", "unset id", "unset error", 4242);
}

}  // namespace testsupport

#endif  // CIJOBRESULTS_TESTS_SUPPORT_REFERENCE_H
