// XmlNode as XML text: tag text, single tags, whole elements, element lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xml/XmlNode.h"

namespace {

TEST(XmlOutput, ReturnCharIsNewline) { EXPECT_EQ(XmlNode::m_sReturnChar, "\n"); }

TEST(XmlOutput, ElementText) {
    struct Case {
        std::string tagText, content, expected;
    };
    const std::vector<Case> cases = {
        {"Size", "42", "<Size>\n42\n</Size>\n"},
        {"ErrorString", "", "<ErrorString />\n"},
        {"T", "a\n", "<T>\na\n</T>\n"},
        {"T", "a<b&c", "<T>\na<b&c\n</T>\n"},
        {"T", "  x\ny  ", "<T>\n  x\ny  \n</T>\n"},
        {"Item id=\"7\" note='say \"hi\"'", "x", "<Item id='7' note='say \"hi\"'>\nx\n</Item>\n"},
        {"a b='1'", "", "<a b='1' />\n"},
        {"", "", "< />\n"},
        {"", "x", "<>\nx\n</>\n"},
    };
    for (const Case& c : cases) {
        const XmlNode node(c.tagText, c.content);
        EXPECT_EQ(node.OutputXMLNodeString(), c.expected) << c.tagText;
    }
}

TEST(XmlOutput, GetTagChoosesQuotePerValue) {
    EXPECT_EQ(XmlNode("Item note=\"it's\"", "").GetTag(true), "Item note=\"it's\"");
    EXPECT_EQ(XmlNode("Item a=\"1\" b='2'", "").GetTag(false), "Item");
    EXPECT_EQ(XmlNode("E a='x' b=\"y\"", "").GetTag(true), "E a=\"x\" b=\"y\"");

    XmlNode added("Item", "");
    added.AddAttribute("note", "it's");
    EXPECT_EQ(added.GetTag(true), "Item note=\"it's\"");

    XmlNode both("Item", "");
    both.AddAttribute("note", "it's \"x\"");
    const std::string text = both.GetTag(true);
    EXPECT_EQ(text, "Item note=\"it's \"x\"\"");
    EXPECT_EQ(XmlNode(text, "").m_mapAttributes.at("note"), "it's ");

    // A name listed without a map entry is skipped rather than invented.
    XmlNode orphan("Item", "");
    orphan.AddAttribute("z", "1");
    orphan.AddAttribute("a", "2");
    orphan.m_vAttributeNames.insert(orphan.m_vAttributeNames.begin() + 1, "ghost");
    EXPECT_EQ(orphan.GetTag(true), "Item z='1' a='2'");
}

TEST(XmlOutput, OutputXMLTagString) {
    EXPECT_EQ(XmlNode::OutputXMLTagString("Root", true, false), "<Root>");
    EXPECT_EQ(XmlNode::OutputXMLTagString("Root", false, false), "</Root>");
    EXPECT_EQ(XmlNode::OutputXMLTagString("Root", false, true), "</Root>");
    EXPECT_EQ(XmlNode::OutputXMLTagString("br", true, true), "<br />");
    EXPECT_EQ(XmlNode::OutputXMLTagString("a k='1'", true, false), "<a k='1'>");
}

TEST(XmlOutput, ThreeArgumentFormDoesNotCompareTags) {
    EXPECT_EQ(XmlNode::OutputXMLNodeString("a k='1'", "", "ignored"), "<a k='1' />\n");
    EXPECT_EQ(XmlNode::OutputXMLNodeString("a", "x", "b"), "<a>\nx\n</b>\n");
    EXPECT_EQ(XmlNode::OutputXMLNodeString("a", "\n", "a"), "<a>\n\n</a>\n");
}

TEST(XmlOutput, OutputReadsTheFieldNotTheVirtualAccessor) {
    struct Shouting : XmlNode {
        Shouting() : XmlNode("s", "quiet") {}
        const std::string& GetNodeContent() const override { return loud; }
        std::string loud = "LOUD";
    };
    EXPECT_EQ(Shouting().OutputXMLNodeString(), "<s>\nquiet\n</s>\n");
}

TEST(XmlOutput, CombinedXMLNodeString) {
    EXPECT_EQ(XmlNode::CombinedXMLNodeString({}), "");
    const std::vector<XmlNode> nodes = {XmlNode("Size", "42"), XmlNode("ErrorString", "")};
    EXPECT_EQ(XmlNode::CombinedXMLNodeString(nodes), "<Size>\n42\n</Size>\n<ErrorString />\n");
}

}  // namespace
