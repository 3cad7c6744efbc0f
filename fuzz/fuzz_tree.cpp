// The tree: construct from arbitrary content, UpdateNodeContent, render.
//
// Input: the content of the root; if it holds a NUL byte, the root's tag
// text stands before it and the content after it.
//
// Checked, besides crashes, leaks and stack overflows:
// - after a parse, every node above the depth limit has one child per
//   element that the flat scanner cuts out of its content, in order;
// - SetNodeContent through an XmlNode reference parses like the constructor;
// - UpdateNodeContent keeps the children and a re-parse of the content it
//   produced gives the same tag names, attributes and leaf texts, for trees
//   whose tag texts the scanner reads back as written (see ReadsBack);
// - renderings end with a line end and start with the node's start tag.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "xml/XmlNode.h"

namespace {

// Tag texts that the scanner reads differently once UpdateNodeContent has
// written them: an empty name, a name the scanner skips ("!", "?"), a name
// with "<" (the scan goes on one past the "<" of the end tag, so the rest
// of the end tag is read as text that holds a tag), and a name without
// attributes that ends in "/" (read as self-closing) or in a blank (trimmed
// away, so the end tag no longer matches). Such names occur in parsed trees,
// since start tags like "<a/ >" or "< >" are read as ones.
bool ReadsBack(const XmlParsedNode& node) {
    const std::string& name = node.GetTagName();
    if (name.empty() || name[0] == '!' || name[0] == '?') return false;
    if (name.find('<') != std::string::npos) return false;
    if (node.m_vAttributeNames.empty() && (name.back() == '/' || fuzzinput::IsBlank(name.back())))
        return false;
    return true;
}

bool SubtreeReadsBack(const XmlParsedNode& node) {
    for (const XmlParsedNode& child : node.m_vChildren) {
        if (!ReadsBack(child) || !SubtreeReadsBack(child)) return false;
    }
    return true;
}

void CheckParsed(const XmlParsedNode& node, int levelsLeft) {
    if (levelsLeft <= 0) {
        FUZZ_CHECK(node.m_vChildren.empty());
        return;
    }
    std::vector<XmlNode> scanned;
    XmlNode::GetXMLNodeList(node.GetNodeContent(), scanned);
    FUZZ_CHECK(scanned.size() == node.m_vChildren.size());
    for (size_t i = 0; i < scanned.size(); ++i) {
        // A child is built from the scanned element's written tag text, so
        // its name is that text parsed again: a name that ends in "\r" or
        // "\t" loses it when the element has no attributes.
        const XmlNode retagged(scanned[i].GetTag(true), std::string());
        const XmlParsedNode& child = node.m_vChildren[i];
        FUZZ_CHECK(child.GetTagName() == retagged.GetTagName());
        FUZZ_CHECK(child.GetNodeContent() == scanned[i].GetNodeContent());
        FUZZ_CHECK(child.m_vAttributeNames == scanned[i].m_vAttributeNames);
        FUZZ_CHECK(child.m_mapAttributes == scanned[i].m_mapAttributes);
        CheckParsed(child, levelsLeft - 1);
    }
}

// Same shape, names, attributes, and content of every leaf. The roots'
// contents are compared only when withRootContent is set.
void CheckSameTree(const XmlParsedNode& a, const XmlParsedNode& b, bool withRootContent) {
    FUZZ_CHECK(a.GetTagName() == b.GetTagName());
    FUZZ_CHECK(a.m_vAttributeNames == b.m_vAttributeNames);
    FUZZ_CHECK(a.m_mapAttributes == b.m_mapAttributes);
    FUZZ_CHECK(a.m_vChildren.size() == b.m_vChildren.size());
    if (a.m_vChildren.empty()) {
        if (withRootContent) FUZZ_CHECK(a.GetNodeContent() == b.GetNodeContent());
        return;
    }
    for (size_t i = 0; i < a.m_vChildren.size(); ++i)
        CheckSameTree(a.m_vChildren[i], b.m_vChildren[i], true);
}

void CheckRendering(XmlParsedNode& node) {
    const std::string text = node.OutputXMLNodeString();
    FUZZ_CHECK(!text.empty() && text.back() == '\n');
    const std::string start = "<" + node.GetTag(true);
    FUZZ_CHECK(text.compare(0, start.size(), start) == 0);
    // Two levels deeper, the first line gains six blanks and nothing else.
    const std::string indented = node.OutputXMLNodeString(2);
    const std::string firstLine = text.substr(0, text.find('\n') + 1);
    FUZZ_CHECK(indented.compare(0, 6 + firstLine.size(), "      " + firstLine) == 0);
    FUZZ_CHECK(indented.back() == '\n');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view tagView;
    std::string_view contentView;
    if (!fuzzinput::SplitAtNul(fuzzinput::AsText(data, size), tagView, contentView)) {
        contentView = tagView;
        tagView = "Root";
    }
    const std::string tagText(tagView);
    const std::string content(contentView);

    XmlParsedNode tree(tagText, content);
    FUZZ_CHECK(tree.GetNodeContent() == content);
    CheckParsed(tree, XmlParsedNode::kMaxParseDepth);

    // The virtual SetNodeContent parses as well, from the trimmed text.
    XmlParsedNode viaBase(tagText, 0);
    static_cast<XmlNode&>(viaBase).SetNodeContent(content);
    const std::string_view trimmed = fuzzinput::Trimmed(content);
    if (trimmed.size() == content.size()) {
        CheckSameTree(viaBase, tree, true);
    } else {
        CheckSameTree(viaBase, XmlParsedNode(tagText, std::string(trimmed)), true);
    }

    std::vector<XmlParsedNode*> found;
    if (!tree.m_vChildren.empty()) {
        tree.GetXMLNodeList(tree.m_vChildren[0].GetTagName(), found);
        FUZZ_CHECK(!found.empty() && found[0] == &tree.m_vChildren[0]);
        size_t sameName = 0;
        for (const XmlParsedNode& child : tree.m_vChildren)
            sameName += child.GetTagName() == tree.m_vChildren[0].GetTagName();
        FUZZ_CHECK(found.size() == sameName);
    }

    XmlParsedNode updated = tree;
    updated.UpdateNodeContent();
    CheckSameTree(updated, tree, true);
    if (!updated.m_vChildren.empty()) {
        // The content is exactly the children's renderings, one after another.
        std::string joined;
        for (XmlParsedNode& child : updated.m_vChildren) joined += child.OutputXMLNodeString();
        FUZZ_CHECK(updated.GetNodeContent() == joined);
    }
    CheckRendering(updated);

    // Parsing the rebuilt content under the same root tag: the same as
    // ParseChildrenNode on the updated tree, without copying a content
    // that grows with the square of the depth.
    if (SubtreeReadsBack(tree)) {
        const XmlParsedNode reparsed(tagText, updated.GetNodeContent());
        CheckSameTree(reparsed, tree, false);
    }
    return 0;
}
