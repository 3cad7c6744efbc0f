// Tag and attribute parsing (SetTag), then GetTag and element output.
//
// Input: a tag text; if it holds a NUL byte, the tag text stands before it
// and the element's content after it.
//
// Checked: the name and attributes against a reference parse written from
// the rules; GetTag(true) parsed again gives the same name and attributes;
// a second SetTag with the same text changes nothing; the element text has
// the exact line layout; and, where the text is one the scanner can read
// back, scanning the element text gives this element again.
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "xml/XmlNode.h"

namespace {

struct RefTag {
    std::string name;
    std::vector<std::string> order;
    std::map<std::string, std::string> values;
    std::string quote;
};

void RefAttributes(std::string_view text, RefTag& tag) {
    size_t pos = 0;
    for (;;) {
        const size_t equals = text.find('=', pos);
        if (equals == std::string_view::npos) return;
        const std::string name(fuzzinput::Trimmed(text.substr(pos, equals - pos)));
        size_t quote = equals + 1;
        while (quote < text.size() && text[quote] == ' ') ++quote;
        if (quote == text.size()) return;
        const char quoteChar = text[quote];
        if (quoteChar != '"' && quoteChar != '\'') return;
        tag.quote.assign(1, quoteChar);
        const size_t closing = text.find(quoteChar, quote + 1);
        if (closing == std::string_view::npos) return;
        if (tag.values.count(name) == 0) tag.order.push_back(name);
        tag.values[name] = std::string(text.substr(quote + 1, closing - quote - 1));
        pos = closing + 1;
    }
}

RefTag RefParse(std::string_view tagText) {
    RefTag tag;
    if (tagText.empty()) return tag;
    const std::string_view trimmed = fuzzinput::Trimmed(tagText);
    const size_t space = trimmed.find(' ');
    tag.name = std::string(trimmed.substr(0, space));
    if (space != std::string_view::npos) RefAttributes(trimmed.substr(space + 1), tag);
    return tag;
}

void CheckSameAttributes(const XmlNode& a, const XmlNode& b) {
    FUZZ_CHECK(a.m_vAttributeNames == b.m_vAttributeNames);
    FUZZ_CHECK(a.m_mapAttributes == b.m_mapAttributes);
}

bool Contains(const std::string& text, char byte) { return text.find(byte) != std::string::npos; }

// The element text is read back by the scanner unless its own markup gets in
// the way: a content with "<"; a tag text with ">" or one the scanner skips
// ("!", "?") or reads differently (empty name; a blank at the end of the
// tag text; "/" at the end of a start tag that carries content); a name with
// "<", whose end tag the scanner reads on from one past its first "<".
bool ScannerReadsBack(const XmlNode& node, const std::string& startTag) {
    const std::string& name = node.GetTagName();
    const std::string& content = node.GetNodeContent();
    if (name.empty() || name[0] == '!' || name[0] == '?') return false;
    if (Contains(name, '<')) return false;
    if (Contains(startTag, '>') || Contains(content, '<')) return false;
    if (fuzzinput::IsBlank(startTag.back())) return false;
    if (!content.empty() && startTag.back() == '/') return false;
    return true;
}

void CheckOutput(const XmlNode& node) {
    const std::string startTag = node.GetTag(true);
    const std::string& name = node.GetTagName();
    const std::string& content = node.GetNodeContent();
    FUZZ_CHECK(node.GetTag(false) == name);

    std::string expected;
    if (content.empty()) {
        expected = "<" + startTag + " />\n";
    } else {
        expected = "<" + startTag + ">\n" + content;
        if (content.back() != '\n') expected += "\n";
        expected += "</" + name + ">\n";
    }
    const std::string text = node.OutputXMLNodeString();
    FUZZ_CHECK(text == expected);
    FUZZ_CHECK(XmlNode::CombinedXMLNodeString({node, node}) == text + text);
    FUZZ_CHECK(XmlNode::OutputXMLTagString(startTag, true, true) == "<" + startTag + " />");
    FUZZ_CHECK(XmlNode::OutputXMLTagString(name, false, true) == "</" + name + ">");

    if (!ScannerReadsBack(node, startTag)) return;
    std::vector<XmlNode> scanned;
    FUZZ_CHECK(XmlNode::GetXMLNodeList(text, scanned));
    FUZZ_CHECK(scanned.size() == 1);
    FUZZ_CHECK(scanned[0].GetTagName() == name);
    FUZZ_CHECK(scanned[0].GetNodeContent() == fuzzinput::Trimmed(content));
    CheckSameAttributes(scanned[0], node);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view tagView;
    std::string_view contentView;
    fuzzinput::SplitAtNul(fuzzinput::AsText(data, size), tagView, contentView);
    const std::string tagText(tagView);

    XmlNode node(tagText, std::string(contentView));
    const RefTag expected = RefParse(tagText);
    FUZZ_CHECK(node.GetTagName() == expected.name);
    FUZZ_CHECK(node.m_vAttributeNames == expected.order);
    FUZZ_CHECK(node.m_mapAttributes == expected.values);
    FUZZ_CHECK(node.m_sQuoteChar == expected.quote);
    FUZZ_CHECK(node.GetNodeContent() == contentView);
    for (const std::string& attribute : node.m_vAttributeNames) {
        std::string value = "stale";
        node.getAttributeValue(attribute, value);
        FUZZ_CHECK(value == expected.values.at(attribute));
    }

    // The tag text that GetTag writes parses back to the same element: a
    // parsed value never holds both quote characters, so one always fits.
    const XmlNode reparsed(node.GetTag(true), std::string());
    // Without attributes a name that ends in a tab or line break loses it to
    // the trimming of the tag text.
    if (node.m_vAttributeNames.empty()) {
        FUZZ_CHECK(reparsed.GetTagName() == fuzzinput::Trimmed(node.GetTagName()));
    } else {
        FUZZ_CHECK(reparsed.GetTagName() == node.GetTagName());
    }
    CheckSameAttributes(reparsed, node);

    // Attributes accumulate; the same text again adds nothing new.
    XmlNode again = node;
    again.SetTag(tagText);
    CheckSameAttributes(again, node);
    FUZZ_CHECK(again.m_sQuoteChar == node.m_sQuoteChar);

    CheckOutput(node);
    return 0;
}
