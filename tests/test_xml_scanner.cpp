// The flat element scanner and the lookups on its lists.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "support/describe.h"
#include "support/golden.h"
#include "support/reference.h"
#include "support/repeat.h"
#include "xml/XmlNode.h"

namespace {

using testsupport::Describe;
using testsupport::Repeat;

struct ScanCase {
    std::string text;
    bool complete;
    std::string elements;
};

TEST(XmlScanner, CutsTopLevelElementsAndStopsWhereTheRulesSay) {
    const std::vector<ScanCase> cases = {
        {"", true, ""},
        {"no markup at all", true, ""},
        {"x<a k='1'><b/>t</a> y <c/>", true, "a{k=1,}'\"<b/>t\" c{}\"\" "},
        {"<a><a>x</a></a>", false, "a{}\"<a>x\" "},
        {"<a>1</a><b>2", false, "a{}\"1\" "},
        {"<a>text", false, ""},
        {"text <a", false, ""},
        {"<a>\n  x y \t\n</a>", true, "a{}\"x y\" "},
        {"<a/><a />", true, "a{}\"\" a{}\"\" "},
        {"<a k='v'/>", true, "a{k=v,}'\"\" "},
        {"<a/ >x</a/>", true, "a/{}\"x\" "},
        {"<a/ >x</a>", false, ""},
        {"<a\nk='1'>x</a>", false, ""},
        {"<a\tk='1'>x</a>", false, ""},
        {"<><b/>", true, "{}\"\" b{}\"\" "},
        {"<!-- a > b --><r/>", true, "r{}\"\" "},
        {"<!-- a > <b/> --><r/>", true, "b{}\"\" r{}\"\" "},
        {"<?pi x?><!DOCTYPE d><r>1</r>", true, "r{}\"1\" "},
        {"<a k='1>2'>x</a>", true, "a{}'\"2'>x\" "},
        {"<a><a/>x</a>", true, "a{}\"<a/>x\" "},
        {"</b><a>1</a>", false, ""},
        {"<a>x</a >y</a>", true, "a{}\"x</a >y\" "},
        {"<a>1</a><a>2</a>", true, "a{}\"1\" a{}\"2\" "},
        {"<a b='1' c=\"2\">z</a>", true, "a{b=1,c=2,}\"\"z\" "},
        {"< a >x</a>", true, "a{}\"x\" "},
    };
    for (const ScanCase& c : cases) {
        std::vector<XmlNode> nodes{XmlNode("stale", "left over")};
        EXPECT_EQ(XmlNode::GetXMLNodeList(c.text, nodes), c.complete) << c.text;
        EXPECT_EQ(Describe(nodes), c.elements) << c.text;
    }
}

// Level by level with one list: the text scanned lives in the list emptied.
TEST(XmlScanner, ScansTheContentOfAnElementOfItsOwnList) {
    std::vector<XmlNode> nodes;
    XmlNode::GetXMLNodeList("<r><a>1</a><b/><long>a text beyond any short-string buffer</long></r>",
                            nodes);
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_TRUE(XmlNode::GetXMLNodeList(nodes[0].GetNodeContent(), nodes));
    EXPECT_EQ(Describe(nodes), "a{}\"1\" b{}\"\" long{}\"a text beyond any short-string buffer\" ");
}

TEST(XmlScanner, ReadsAJobResultsFileLevelByLevel) {
    const std::string& text = storetest::Golden().unsaved;
    std::vector<XmlNode> roots, records, fields;
    EXPECT_TRUE(XmlNode::GetXMLNodeList(text, roots));
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_TRUE(XmlNode::GetXMLNodeList(roots[0].GetNodeContent(), records));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(XmlNode::GetXMLNodeList(records[0].GetNodeContent(), fields));
    std::vector<std::string> values;
    for (const XmlNode& field : fields) values.push_back(field.GetNodeContent());
    EXPECT_EQ(values, (std::vector<std::string>{"alpha", "/jobs/1001", "1001", "", "4096"}));

    const std::string unfinished = text.substr(0, text.size() - storetest::Golden().trailer.size());
    EXPECT_FALSE(XmlNode::GetXMLNodeList(unfinished, roots));
    EXPECT_TRUE(roots.empty());
}

TEST(XmlScanner, FindXMLNodeList) {
    const std::vector<XmlNode> nodes = {XmlNode("a", "1"), XmlNode("b k='a'", "a"),
                                        XmlNode("a", "2")};
    const std::vector<XmlNode> none;
    struct Case {
        const std::vector<XmlNode>* list;
        std::string name;
        int first;
        std::vector<int> all;
    };
    for (const Case& c : std::vector<Case>{{&nodes, "a", 0, {0, 2}},
                                           {&nodes, "b", 1, {1}},
                                           {&nodes, "A", -1, {}},
                                           {&nodes, "k", -1, {}},
                                           {&nodes, "", -1, {}},
                                           {&none, "a", -1, {}}}) {
        int index = 99;
        std::vector<int> indices = {7};
        EXPECT_EQ(XmlNode::FindXMLNodeList(*c.list, c.name, index), c.first >= 0) << c.name;
        EXPECT_EQ(index, c.first) << c.name;
        EXPECT_EQ(XmlNode::FindXMLNodeList(*c.list, c.name, indices), !c.all.empty()) << c.name;
        EXPECT_EQ(indices, c.all) << c.name;
    }
}

// The scan rules written out plainly, as elements built from their tag text.
bool ReferenceScan(const std::string& text, std::vector<XmlNode>& nodes) {
    std::vector<testsupport::ScannedElement> elements;
    const bool complete = testsupport::ReferenceScan(text, elements);
    nodes.clear();
    for (const testsupport::ScannedElement& element : elements) {
        nodes.emplace_back(element.tagText, element.content);
        EXPECT_EQ(nodes.back().GetTagName(), element.name) << testsupport::Printable(text);
    }
    return complete;
}

// Random markup scanned into a new list and into one list reused scan
// after scan, as a reader reusing its list does: both must hold exactly
// what the plain rules give, whatever the reused list held before (more or
// fewer elements, attributes, quote characters).
TEST(XmlScanner, AgreesWithThePlainRulesInNewAndReusedLists) {
    const std::vector<std::string> pieces = {"<a>",
                                             "</a>",
                                             "<b/>",
                                             "<a k='1'>",
                                             "<b k=\"x'\" m=''>",
                                             "</b>",
                                             "<",
                                             ">",
                                             "/",
                                             "'",
                                             "\"",
                                             "=",
                                             " ",
                                             "\n",
                                             "\t",
                                             "x",
                                             "<!--",
                                             "-->",
                                             "<?",
                                             std::string(1, '\0'),
                                             "\xff",
                                             "<>",
                                             "</a >",
                                             "<a\tk='2'/>",
                                             "<c q=\"2\"/>",
                                             "<a z='",
                                             "' >",
                                             "<a k='1' k=\"2\"/>",
                                             "<d>content longer than a short string</d>"};
    testsupport::SeededRandom random;
    SCOPED_TRACE(random.Note());
    std::vector<XmlNode> reused;
    for (int round = 0; round < 4000; ++round) {
        const std::string text = testsupport::RandomPieces(random, pieces, 39);
        std::vector<XmlNode> expected, actual;
        const bool expectedComplete = ReferenceScan(text, expected);
        ASSERT_EQ(XmlNode::GetXMLNodeList(text, actual), expectedComplete)
            << testsupport::Printable(text);
        ASSERT_EQ(Describe(actual), Describe(expected));
        ASSERT_EQ(XmlNode::GetXMLNodeList(text, reused), expectedComplete);
        ASSERT_EQ(Describe(reused), Describe(expected));
    }
}

// Large hostile inputs must finish; a quadratic scan would run into the test
// timeout instead.
TEST(XmlScanner, LargeHostileInputsFinish) {
    std::vector<XmlNode> nodes;
    EXPECT_TRUE(XmlNode::GetXMLNodeList(Repeat("<e/>", 1000000), nodes));
    EXPECT_EQ(nodes.size(), 1000000u);
    EXPECT_EQ(nodes.back().GetTagName(), "e");

    EXPECT_TRUE(XmlNode::GetXMLNodeList(std::string(8 << 20, 'x'), nodes));
    EXPECT_TRUE(nodes.empty());

    const std::vector<std::pair<std::string, bool>> patterns = {{"<a>", false},     {"<", false},
                                                                {"<a k='", false},  {"<!", false},
                                                                {"<a></b>", false}, {"<>", true}};
    for (const auto& [pattern, complete] : patterns) {
        EXPECT_EQ(XmlNode::GetXMLNodeList(Repeat(pattern, 200000), nodes), complete) << pattern;
    }
    const std::string longName(1 << 20, 'n');
    EXPECT_FALSE(XmlNode::GetXMLNodeList("<" + longName + ">" + std::string(1 << 20, 'n'), nodes));
}

// The text scanned may be any string held by a node of the list that is
// filled: every such string must stay intact until the scan has read it.
// Short texts live inside the node itself, long ones on the heap; the list
// both grows and shrinks. (Memory checkers catch reads of freed text here
// that a plain run may survive.)
TEST(XmlScanner, ScansAnyStringOfItsOwnList) {
    using Pick = std::function<const std::string&(XmlNode&, const std::string&)>;
    const std::vector<std::pair<std::string, Pick>> strings = {
        {"content",
         [](XmlNode& n, const std::string&) -> const std::string& { return n.m_sNodeContent; }},
        {"tag name",
         [](XmlNode& n, const std::string&) -> const std::string& { return n.m_sTagName; }},
        {"quote",
         [](XmlNode& n, const std::string&) -> const std::string& { return n.m_sQuoteChar; }},
        {"value",
         [](XmlNode& n, const std::string&) -> const std::string& {
             return n.m_mapAttributes.at("v");
         }},
        {"key",
         [](XmlNode& n, const std::string& m) -> const std::string& {
             return n.m_mapAttributes.find(m)->first;
         }},
        {"name",
         [](XmlNode& n, const std::string&) -> const std::string& {
             return n.m_vAttributeNames.back();
         }},
    };
    const std::vector<std::string> markups = {
        "<y/><z>2</z>", "<x k='1'>a text beyond any short-string buffer</x><y/><z>2</z>"};
    for (const std::string& markup : markups) {
        std::vector<XmlNode> expected;
        ReferenceScan(markup, expected);
        for (const auto& [what, pick] : strings) {
            for (const int size : {1, 2, 6}) {
                std::vector<XmlNode> nodes;
                XmlNode::GetXMLNodeList(Repeat("<n a='1'>filler text of the old list</n>", size),
                                        nodes);
                for (XmlNode& holder : nodes) {
                    holder.m_sNodeContent = holder.m_sTagName = holder.m_sQuoteChar = markup;
                    holder.AddAttribute("v", markup);
                    holder.AddAttribute(markup, "v");
                }
                EXPECT_TRUE(XmlNode::GetXMLNodeList(
                    pick(nodes[static_cast<size_t>(size) / 2], markup), nodes))
                    << what;
                EXPECT_EQ(Describe(nodes), Describe(expected)) << what << " " << markup;
            }
        }
    }
}

// End tags are matched in place for short names and by a substring search
// for long ones; both must take exactly "</" + name + ">", nothing near it.
TEST(XmlScanner, EndTagsOfEveryNameLength) {
    for (const size_t length : {1u, 2u, 15u, 16u, 17u, 63u, 64u, 65u, 66u, 300u}) {
        std::string name;
        for (size_t i = 0; i < length; ++i) name += static_cast<char>('a' + i % 26);
        const std::string shorter = name.substr(0, length - 1), longer = name + "a";
        const std::string nearMisses = "</" + shorter + "></" + longer + "></" + name + " ></" +
                                       name + "/></" + name + "<" + name + "></" + shorter + "b>";
        const std::vector<std::string> texts = {
            "<" + name + ">" + nearMisses + "</" + name + ">",
            "<" + name + ">" + nearMisses + "</" + name + "><" + name + ">2</" + name + ">tail",
            "<" + name + ">" + nearMisses + "</" + name,
            "<" + name + "></" + name + ">",
            "<" + name + ">",
            "<" + name + " k='1'>x</" + name + "></" + name + ">",
        };
        for (const std::string& text : texts) {
            std::vector<XmlNode> expected, actual;
            const bool expectedComplete = ReferenceScan(text, expected);
            EXPECT_EQ(XmlNode::GetXMLNodeList(text, actual), expectedComplete) << text;
            EXPECT_EQ(Describe(actual), Describe(expected)) << text;
        }
    }
}

// Content full of end tags that miss the name by its last byte: every
// candidate compares the whole name, which must not make the scan quadratic.
TEST(XmlScanner, NearMissEndTagsFinish) {
    for (const size_t length : {64u, 65u, 4096u}) {
        const std::string name(length, 'n');
        const std::string miss = "</" + name.substr(1) + "x>";
        const std::string text =
            "<" + name + ">" + Repeat(miss, static_cast<int>((8u << 20) / miss.size()));
        std::vector<XmlNode> nodes;
        EXPECT_FALSE(XmlNode::GetXMLNodeList(text, nodes)) << length;
        EXPECT_TRUE(XmlNode::GetXMLNodeList(text + "</" + name + ">", nodes)) << length;
        ASSERT_EQ(nodes.size(), 1u);
        EXPECT_EQ(nodes[0].GetNodeContent().size(), text.size() - length - 2) << length;
    }
}

}  // namespace
