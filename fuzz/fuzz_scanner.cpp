// The flat scanner and both lookups on arbitrary text.
//
// Input: the text to scan. If the input holds a NUL byte, what stands before
// it is a tag name to look up and the text is what follows it; the lookups
// also run for the names the scan found.
//
// Besides crashes, leaks and out-of-bounds reads, the target compares the
// scanner with the plain reference scan of tests/support/reference.h (find
// "<", the first ">" after it, skip "!" and "?" forms, self-closing tags, the
// first "</name>" after a start tag), and checks the lookups against a
// linear walk.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "xml/XmlNode.h"

namespace {

void CheckSameAttributes(const XmlNode& actual, const XmlNode& expected) {
    FUZZ_CHECK(actual.m_vAttributeNames == expected.m_vAttributeNames);
    FUZZ_CHECK(actual.m_mapAttributes == expected.m_mapAttributes);
    FUZZ_CHECK(actual.m_sQuoteChar == expected.m_sQuoteChar);
}

void CheckLookups(const std::vector<XmlNode>& nodes, const std::string& name) {
    std::vector<int> expected;
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (nodes[i].GetTagName() == name) expected.push_back(static_cast<int>(i));
    }

    int index = 12345;
    const bool found = XmlNode::FindXMLNodeList(nodes, name, index);
    FUZZ_CHECK(found == !expected.empty());
    FUZZ_CHECK(index == (expected.empty() ? -1 : expected.front()));

    std::vector<int> indices = {-7, 99};  // stale entries must go
    const bool foundAll = XmlNode::FindXMLNodeList(nodes, name, indices);
    FUZZ_CHECK(foundAll == !expected.empty());
    FUZZ_CHECK(indices == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view lookupName;
    std::string_view textView;
    const bool hasLookup =
        fuzzinput::SplitAtNul(fuzzinput::AsText(data, size), lookupName, textView);
    if (!hasLookup) textView = fuzzinput::AsText(data, size);
    const std::string text(textView);

    // A name with ">" cannot come out of a scan, so this node must be gone.
    std::vector<XmlNode> nodes = {XmlNode("stale>", "left over")};
    const bool complete = XmlNode::GetXMLNodeList(text, nodes);

    std::vector<testsupport::ScannedElement> expected;
    const bool expectedComplete = testsupport::ReferenceScan(text, expected);
    FUZZ_CHECK(complete == expectedComplete);
    FUZZ_CHECK(nodes.size() == expected.size());
    for (size_t i = 0; i < nodes.size(); ++i) {
        const XmlNode& node = nodes[i];
        FUZZ_CHECK(node.GetTagName() == expected[i].name);
        FUZZ_CHECK(node.GetNodeContent() == expected[i].content);
        FUZZ_CHECK(node.GetTagName().find('>') == std::string::npos);
        CheckSameAttributes(node, XmlNode(expected[i].tagText, std::string()));
    }

    if (hasLookup) CheckLookups(nodes, std::string(lookupName));
    // The names found, but only a few, so that a long list stays linear.
    for (size_t i = 0; i < nodes.size() && i < 4; ++i) CheckLookups(nodes, nodes[i].GetTagName());
    CheckLookups(nodes, std::string());
    return 0;
}
