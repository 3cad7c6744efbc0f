// XmlNode as a record: constructors, text utilities, tag and attribute parsing.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "xml/XmlNode.h"

namespace {

using Attributes = std::vector<std::pair<std::string, std::string>>;

// Attributes in output order, checked against the map on the way.
Attributes AttributesOf(const XmlNode& node) {
    Attributes result;
    for (const std::string& name : node.m_vAttributeNames)
        result.emplace_back(name, node.m_mapAttributes.at(name));
    EXPECT_EQ(node.m_mapAttributes.size(), result.size()) << "names and map out of step";
    return result;
}

TEST(XmlRecord, ConstructorsFormatNumbersAndKeepContentAsGiven) {
    EXPECT_EQ(XmlNode("Size", 42ULL).GetNodeContent(), "42");
    EXPECT_EQ(XmlNode("n", -5).GetNodeContent(), "-5");
    EXPECT_EQ(XmlNode("n", INT_MIN).GetNodeContent(), "-2147483648");
    EXPECT_EQ(XmlNode("Size", 18446744073709551615ULL).GetNodeContent(), "18446744073709551615");

    XmlNode node("  Item  id='7'  ", "  x ");
    EXPECT_EQ(node.GetTagName(), "Item");
    EXPECT_EQ(AttributesOf(node), (Attributes{{"id", "7"}}));
    EXPECT_EQ(node.m_sQuoteChar, "'");
    EXPECT_EQ(node.GetNodeContent(), "  x ");
    node.SetNodeContent("  x ");
    EXPECT_EQ(node.GetNodeContent(), "x");

    for (const char* blankTag : {"", " \t\r\n"}) {
        const XmlNode empty(blankTag, "");
        EXPECT_EQ(empty.GetTagName(), "");
        EXPECT_TRUE(AttributesOf(empty).empty());
        EXPECT_EQ(empty.GetNodeContent(), "");
    }
}

TEST(XmlRecord, CopyAndAssignmentTakeAllFiveFields) {
    const XmlNode original("a b=\"1\" c='2'", "body");
    XmlNode copy(original);
    XmlNode assigned("other z='9'", "old");
    assigned = original;
    for (const XmlNode* node : {&copy, &assigned}) {
        EXPECT_EQ(node->GetTagName(), "a");
        EXPECT_EQ(node->GetNodeContent(), "body");
        EXPECT_EQ(node->m_sQuoteChar, "'");
        EXPECT_EQ(AttributesOf(*node), (Attributes{{"b", "1"}, {"c", "2"}}));
    }
}

TEST(XmlRecord, TrimStringCutsExactlyFourBlankBytes) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {" \t\r\n", ""},
        {"  a b  ", "a b"},
        {"\r\nx\t", "x"},
        {"\va\f", "\va\f"},
        {std::string("\0a", 2), std::string("\0a", 2)},
        {"\xA0z\xA0", "\xA0z\xA0"},
    };
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(XmlNode::TrimString(input), expected) << input;
}

TEST(XmlRecord, NumberConversions) {
    EXPECT_EQ(XmlNode::IntToString(0), "0");
    EXPECT_EQ(XmlNode::IntToString(INT_MAX), "2147483647");
    EXPECT_EQ(XmlNode::UlongToString(0UL), "0");
    EXPECT_EQ(XmlNode::UlongToString(18446744073709551615UL), "18446744073709551615");
    const std::vector<std::pair<std::string, int>> cases = {
        {"  42abc", 42},
        {"abc", 0},
        {"", 0},
        {"-17", -17},
        {"+8", 8},
        {"\t\n 3", 3},
        {"4294967297", 1},
        {"2147483648", INT_MIN},
        {"-2147483649", INT_MAX},
        {"99999999999999999999",
         -1},  // strtol saturates at LONG_MAX, whose low 32 bits are all ones
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(XmlNode::StringToInt(text), expected) << text;
}

struct TagCase {
    std::string tagText;
    std::string name;
    Attributes attributes;
    std::string quote;
};

TEST(XmlRecord, SetTagSplitsNameAndParsesAttributes) {
    const std::vector<TagCase> cases = {
        {"a b = \"1\"   c='2'", "a", {{"b", "1"}, {"c", "2"}}, "'"},
        {"a b=1 c=\"2\"", "a", {}, ""},               // unquoted value stops parsing
        {"a b='1' c=\"2", "a", {{"b", "1"}}, "\""},   // quote noted before the end is sought
        {"a b=\"x\" b='y'", "a", {{"b", "y"}}, "'"},  // first position, last value
        {"a b=\t\"1\"", "a", {}, ""},                 // only blanks are skipped after "="
        {"a\tb=\"1\"", "a\tb=\"1\"", {}, ""},         // only a blank ends the name
        {"a junk b=\"1\"", "a", {{"junk b", "1"}}, "\""},
        {"a =\"1\"", "a", {{"", "1"}}, "\""},
        {"a href='x=y'", "a", {{"href", "x=y"}}, "'"},
        {"a v=' <b> \"q\"\n '", "a", {{"v", " <b> \"q\"\n "}}, "'"},
        {"a z='1' y='2' /", "a", {{"z", "1"}, {"y", "2"}}, "'"},  // insertion order, not map order
        {"a b=", "a", {}, ""},
        {"a b=   ", "a", {}, ""},
        {"a  ", "a", {}, ""},
    };
    for (const TagCase& c : cases) {
        const XmlNode node(c.tagText, "");
        EXPECT_EQ(node.GetTagName(), c.name) << c.tagText;
        EXPECT_EQ(AttributesOf(node), c.attributes) << c.tagText;
        EXPECT_EQ(node.m_sQuoteChar, c.quote) << c.tagText;
    }
}

TEST(XmlRecord, SetTagAccumulatesAttributesAndEmptyTextOnlyClearsName) {
    XmlNode node("a b='1'", "");
    node.SetTag("c d=\"2\" b=\"3\"");
    EXPECT_EQ(node.GetTagName(), "c");
    EXPECT_EQ(AttributesOf(node), (Attributes{{"b", "3"}, {"d", "2"}}));
    node.SetTag("");
    EXPECT_EQ(node.GetTagName(), "");
    EXPECT_EQ(node.m_sQuoteChar, "\"");
    EXPECT_EQ(AttributesOf(node), (Attributes{{"b", "3"}, {"d", "2"}}));

    // Called directly, ParseTag does not trim: a leading blank separates an empty name.
    node.ParseTag(" x k='v'");
    EXPECT_EQ(node.GetTagName(), "");
    node.ParseAttribute("  m = \"n\"  trailing /");
    EXPECT_EQ(AttributesOf(node), (Attributes{{"b", "3"}, {"d", "2"}, {"x k", "v"}, {"m", "n"}}));
}

TEST(XmlRecord, AddAttributeAndGetAttributeValue) {
    XmlNode node("a x='0'", "");
    node.AddAttribute(" s ", " v ");
    node.AddAttribute("k", "1");
    node.AddAttribute(" s ", "w");
    EXPECT_EQ(AttributesOf(node), (Attributes{{"x", "0"}, {" s ", "w"}, {"k", "1"}}));
    EXPECT_EQ(node.m_sQuoteChar, "'");
    node.AddAttribute("empty", "");
    for (const auto& [name, expected] :
         Attributes{{"k", "1"}, {" s ", "w"}, {"missing", ""}, {"empty", ""}}) {
        std::string value = "stale";
        node.getAttributeValue(name, value);
        EXPECT_EQ(value, expected) << name;
    }
}

}  // namespace
