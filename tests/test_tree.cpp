// XmlParsedNode: parsing a tree, finding and editing children, rebuilding
// content, indented output, and hostile content.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/describe.h"
#include "support/repeat.h"
#include "support/scratch.h"
#include "xml/XmlNode.h"

namespace {

using testsupport::Describe;
using testsupport::DescribeTree;
using testsupport::NestedElements;
using testsupport::Printable;
using testsupport::Repeat;

// Checks that every node's children are what a scan of its content gives,
// rebuilt from their tag text, with none below the depth limit. Returns the
// number of levels below the node.
int CheckParsed(const XmlParsedNode& node, int levelsLeft) {
    if (levelsLeft == 0) {
        EXPECT_TRUE(node.m_vChildren.empty()) << "children below the depth limit";
        return 0;
    }
    std::vector<XmlNode> scanned;
    XmlNode::GetXMLNodeList(node.GetNodeContent(), scanned);
    EXPECT_EQ(node.m_vChildren.size(), scanned.size()) << node.GetNodeContent();
    int depth = 0;
    for (size_t i = 0; i < std::min(scanned.size(), node.m_vChildren.size()); ++i) {
        const XmlNode rebuilt(scanned[i].GetTag(true), scanned[i].GetNodeContent());
        EXPECT_EQ(Describe(node.m_vChildren[i]), Describe(rebuilt));
        depth = std::max(depth, 1 + CheckParsed(node.m_vChildren[i], levelsLeft - 1));
    }
    return depth;
}

// Every line of text indented by three more blanks.
std::string IndentLines(const std::string& text) {
    std::string result;
    for (size_t begin = 0, end; begin < text.size(); begin = end) {
        end = std::min(text.find('\n', begin), text.size() - 1) + 1;
        result += "   " + text.substr(begin, end - begin);
    }
    return result;
}

const char* const kItemContent = "<Item id='7'><Name>alpha</Name><Count>42</Count><Flag/></Item>";

TEST(XmlTree, WorkedExampleParsesUpdatesAndRenders) {
    XmlParsedNode root("Root", kItemContent);
    EXPECT_EQ(root.GetNodeContent(), kItemContent);
    EXPECT_EQ(DescribeTree(root),
              "Root{}(Item{id=7,}'(Name{}\"alpha\" Count{}\"42\" Flag{}\"\" ) )");
    XmlParsedNode& item = root.m_vChildren.at(0);
    EXPECT_EQ(item.m_sQuoteChar, "'");
    EXPECT_EQ(item.GetNodeContent(), "<Name>alpha</Name><Count>42</Count><Flag/>");

    const std::string itemLines = "<Name>\n   alpha\n</Name>\n<Count>\n   42\n</Count>\n<Flag />\n";
    const std::string rendering =
        "<Root>\n   <Item id='7'>\n      <Name>\n         alpha\n      </Name>\n      <Count>\n"
        "         42\n      </Count>\n      <Flag />\n   </Item>\n</Root>\n";
    EXPECT_EQ(root.OutputXMLNodeString(), rendering);
    XmlParsedNode& count = item.m_vChildren.at(1);
    EXPECT_EQ(count.OutputXMLNodeString(2), "      <Count>\n         42\n      </Count>\n");
    EXPECT_EQ(count.OutputXMLNodeString(), "<Count>\n   42\n</Count>\n");

    root.UpdateNodeContent();
    EXPECT_EQ(item.GetNodeContent(), itemLines);
    EXPECT_EQ(
        root.GetNodeContent(),
        "<Item id='7'>\n   <Name>\n      alpha\n   </Name>\n   <Count>\n      42\n   </Count>\n"
        "   <Flag />\n</Item>\n");
    EXPECT_EQ(DescribeTree(root),
              "Root{}(Item{id=7,}'(Name{}\"alpha\" Count{}\"42\" Flag{}\"\" ) )");
    EXPECT_EQ(root.OutputXMLNodeString(), rendering);
}

TEST(XmlTree, ParsingRules) {
    struct Case {
        std::string content, tree;
    };
    const std::vector<Case> cases = {
        {"<A>1</A><B/>", "R{}(A{}\"1\" B{}\"\" )"},
        {"  <b>1</b>  ", "R{}(b{}\"1\" )"},
        {"x<b>1</b>y", "R{}(b{}\"1\" )"},
        {"<a>1</a><b>2", "R{}(a{}\"1\" )"},
        {"</x><a>1</a>", "R{}\"</x><a>1</a>\""},
        {"<E a='x' b=\"y\">t</E>", "R{}(E{a=x,b=y,}\"\"t\" )"},
        {"<a>1</a><a><a/></a>", "R{}(a{}\"1\" a{}(a{}\"\" ) )"},
        {"no elements", "R{}\"no elements\""},
    };
    for (const Case& c : cases) {
        const XmlParsedNode node("R", c.content);
        EXPECT_EQ(node.GetNodeContent(), c.content);
        EXPECT_EQ(DescribeTree(node), c.tree) << c.content;
    }
    // Every attribute of a child takes the quote of the last one parsed.
    EXPECT_EQ(XmlParsedNode("R", "<E a='x' b=\"y\"/>").m_vChildren.at(0).GetTag(true),
              "E a=\"x\" b=\"y\"");
}

TEST(XmlTree, SetNodeContentTrimsAndReparsesEvenThroughTheBase) {
    XmlParsedNode node("R", "<a>1</a>");
    XmlNode& base = node;
    base.SetNodeContent("  <b>2</b><c/>\n");
    EXPECT_EQ(DescribeTree(node), "R{}(b{}\"2\" c{}\"\" )");
    EXPECT_EQ(node.GetNodeContent(), "<b>2</b><c/>");
    node.SetNodeContent(" \n\t ");
    EXPECT_EQ(DescribeTree(node), "R{}\"\"");
}

TEST(XmlTree, UpdateNodeContentKeepsLeavesAndDropsLooseText) {
    XmlParsedNode leaf("L", "  keep me  "), mixed("R", "x<b>1</b>y");
    leaf.UpdateNodeContent();
    mixed.UpdateNodeContent();
    EXPECT_EQ(leaf.GetNodeContent(), "  keep me  ");
    EXPECT_EQ(mixed.GetNodeContent(), "<b>\n   1\n</b>\n");
}

TEST(XmlTree, GetXMLNodeListAndEditsThroughPointers) {
    XmlParsedNode root("Root", "<a>1</a><b><a>deep</a></b><a>2</a>");
    std::vector<XmlParsedNode*> found = {&root};
    root.GetXMLNodeList("a", found);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0], &root.m_vChildren[0]);
    EXPECT_EQ(found[1], &root.m_vChildren[2]);
    for (const char* name : {"A", "deep", ""}) {
        root.GetXMLNodeList(name, found);
        EXPECT_TRUE(found.empty()) << name;
    }
    XmlParsedNode unnamed("R", "<>x</>");  // "</>" reads as a self-closing tag without a name
    unnamed.GetXMLNodeList("", found);
    EXPECT_EQ(found.size(), 2u);

    root.GetXMLNodeList("a", found);
    found[1]->SetNodeContent("<z>9</z>");
    found[0]->AddAttribute("n", "it's");
    root.UpdateNodeContent();
    EXPECT_EQ(root.GetNodeContent(),
              "<a n=\"it's\">\n   1\n</a>\n<b>\n   <a>\n      deep\n   </a>\n</b>\n<a>\n   <z>\n   "
              "   9\n   </z>\n</a>\n");
    // Parsed again, the edited node takes the quote its rendering gave it.
    EXPECT_EQ(DescribeTree(XmlParsedNode("Root", root.GetNodeContent())),
              "Root{}(a{n=it's,}\"\"1\" b{}(a{}\"deep\" ) a{}(z{}\"9\" ) )");
}

TEST(XmlTree, CopiesAndAssignmentsAreDeep) {
    const XmlParsedNode original("R", "<a><b>1</b></a>");
    XmlParsedNode copy(original);
    copy.m_vChildren.at(0).m_vChildren.at(0).SetNodeContent("2");
    EXPECT_EQ(DescribeTree(original), "R{}(a{}(b{}\"1\" ) )");
    EXPECT_EQ(DescribeTree(copy), "R{}(a{}(b{}\"2\" ) )");

    // Descending by assignment: the source lives inside the target's subtree.
    XmlParsedNode root("R", "<a><b><c1/><c2/><c3/></b><e/></a><z/><z2/>");
    root = root.m_vChildren[0];
    EXPECT_EQ(DescribeTree(root), "a{}(b{}(c1{}\"\" c2{}\"\" c3{}\"\" ) e{}\"\" )");
    root = std::move(root.m_vChildren[0]);
    EXPECT_EQ(DescribeTree(root), "b{}(c1{}\"\" c2{}\"\" c3{}\"\" )");
}

TEST(XmlTree, IndentedOutput) {
    EXPECT_EQ(XmlParsedNode::GetIndent(0) + XmlParsedNode::GetIndent(-1), "");
    EXPECT_EQ(XmlParsedNode::GetIndent(3), std::string(9, ' '));
    EXPECT_EQ(XmlParsedNode("Flag", "").OutputXMLNodeString(1), "   <Flag />\n");
    EXPECT_EQ(XmlParsedNode("Flag a='1'", "").OutputXMLNodeString(), "<Flag a='1' />\n");
    EXPECT_EQ(XmlParsedNode("Count", 42).OutputXMLNodeString(), "<Count>\n   42\n</Count>\n");
    EXPECT_EQ(XmlParsedNode("Size", 7ULL).OutputXMLNodeString(), "<Size>\n   7\n</Size>\n");
    EXPECT_EQ(XmlParsedNode("X", "a\nb").OutputXMLNodeString(), "<X>\n   a\nb\n</X>\n");
    EXPECT_EQ(XmlParsedNode("X", " a ").OutputXMLNodeString(), "<X>\n    a \n</X>\n");
    EXPECT_EQ(XmlParsedNode("X k=\"v\"", "x<b>1</b>y").OutputXMLNodeString(),
              "<X k=\"v\">\n   <b>\n      1\n   </b>\n</X>\n");
    EXPECT_EQ(XmlParsedNode("N", "<c/>").OutputXMLNodeString(-2), "<N>\n<c />\n</N>\n");
    XmlParsedNode emptied("E", "<c>1</c>");
    emptied.m_sNodeContent.clear();
    EXPECT_EQ(emptied.OutputXMLNodeString(), "<E />\n");
    const XmlParsedNode parent("P", "<c>1</c>");
    EXPECT_EQ(static_cast<const XmlNode&>(parent).OutputXMLNodeString(), "<P>\n<c>1</c>\n</P>\n");
}

TEST(XmlTree, ReadXMLFileLoadsThisNodeAndItsChildren) {
    const testsupport::ScratchDir dir;
    const std::string tree = dir.Path() + "/tree.xml", file = dir.Path() + "/two.xml";
    testsupport::WriteWholeFile(tree,
                                "<?xml version=\"1.0\"?>\n<r k=\"2\">\n  <c>x</c>\n  <d/>\n</r>\n");
    testsupport::WriteWholeFile(file, "<a>1</a><b>2</b>");
    XmlParsedNode node("old z='1'", "<gone/>");
    XmlNode untouched("u", "u");
    ASSERT_TRUE(node.ReadXMLFile(tree, untouched));
    EXPECT_EQ(DescribeTree(node), "r{k=2,}\"(c{}\"x\" d{}\"\" )");
    EXPECT_EQ(Describe(untouched), "u{}\"u\"");

    const std::string before = DescribeTree(node);
    EXPECT_FALSE(node.ReadXMLFile(file, untouched));
    EXPECT_FALSE(node.ReadXMLFile(file + ".missing", untouched));
    EXPECT_EQ(DescribeTree(node), before);
    EXPECT_EQ(Describe(untouched), "u{}\"u\"");
}

TEST(XmlTree, ParsingStopsAt256Levels) {
    const std::string chain = NestedElements(300);
    XmlParsedNode root("R", chain);
    EXPECT_EQ(CheckParsed(root, XmlParsedNode::kMaxParseDepth), 256);
    const XmlParsedNode* node = &root;
    for (int level = 0; level < 256; ++level) node = &node->m_vChildren.at(0);
    EXPECT_EQ(node->GetTagName(), "e255");
    EXPECT_EQ(node->GetNodeContent().substr(0, 12), "<e256><e257>");

    root.SetNodeContent(NestedElements(256));
    EXPECT_EQ(CheckParsed(root, 1000), 256);
    root.UpdateNodeContent();
    EXPECT_EQ(root.OutputXMLNodeString(), "<R>\n" + IndentLines(root.GetNodeContent()) + "</R>\n");
}

TEST(XmlTree, DepthBombsFinish) {
    const XmlParsedNode sameNames("R", Repeat("<a>", 100000) + Repeat("</a>", 100000));
    ASSERT_EQ(sameNames.m_vChildren.size(), 1u);
    EXPECT_TRUE(sameNames.m_vChildren[0].m_vChildren.empty());

    XmlParsedNode distinct("R", NestedElements(3000));
    EXPECT_EQ(CheckParsed(distinct, XmlParsedNode::kMaxParseDepth), 256);
    distinct.UpdateNodeContent();
    EXPECT_EQ(distinct.OutputXMLNodeString(),
              "<R>\n" + IndentLines(distinct.GetNodeContent()) + "</R>\n");
}

TEST(XmlTree, MillionSiblingsFinish) {
    XmlParsedNode wide("R", Repeat("<s/>", 1000000));
    EXPECT_EQ(wide.m_vChildren.size(), 1000000u);
    wide.UpdateNodeContent();
    EXPECT_EQ(wide.GetNodeContent().size(), 1000000u * 6);
}

// Random markup, unterminated tags and stray bytes: the tree must always be
// what the scanner says its content holds.
TEST(XmlTree, ArbitraryContentKeepsChildrenAndContentInStep) {
    const std::vector<std::string> pieces = {
        "<a>",  "</a>", "<b k='1'>", "</b>", "<c/>", "<",    ">",   "/",  "'",
        "\"",   "=",    "x",         " ",    "\n",   "<!--", "-->", "<?", std::string(1, '\0'),
        "\xfe", "<a",   "b>"};
    testsupport::SeededRandom random;
    SCOPED_TRACE(random.Note());
    for (int round = 0; round < 1500; ++round) {
        const std::string text = testsupport::RandomPieces(random, pieces, 49);
        SCOPED_TRACE(testsupport::Printable(text));
        XmlParsedNode node("R", text);
        CheckParsed(node, XmlParsedNode::kMaxParseDepth);
        node.UpdateNodeContent();
        ASSERT_EQ(node.OutputXMLNodeString().back(), '\n');
    }
}

// A random tree written as XML text: names differ between levels (the
// scanner does not count nesting), siblings may share names, and text,
// comments and blanks lie between the children.
class TreeWriter {
public:
    explicit TreeWriter(unsigned seed) : m_random(seed) {}

    // Returns the XML text; appends the expected description to *model.
    std::string Element(int depth, std::string* model) {
        const std::string name = "d" + std::to_string(depth) + Pick("abc");
        std::string xml = "<" + name;
        std::vector<std::pair<std::string, std::string>> used;
        char lastQuote = '\'';
        for (int i = static_cast<int>(m_random() % 3); i > 0; --i) {
            const std::string key = std::string(1, Pick("kmn")) + std::string(1, Pick("12"));
            std::string value = Text(6, "ab 1=/&<\"'\n");
            value.erase(std::remove(value.begin(), value.end(), m_random() % 2 ? '\'' : '"'),
                        value.end());
            lastQuote = value.find('\'') == std::string::npos ? '\'' : '"';
            xml += " " + key + (m_random() % 2 ? " = " : "=") + std::string(1, lastQuote) + value +
                   std::string(1, lastQuote);
            // A repeated name keeps its first position and takes the last value.
            auto same = std::find_if(used.begin(), used.end(),
                                     [&](const auto& entry) { return entry.first == key; });
            if (same == used.end())
                used.emplace_back(key, value);
            else
                same->second = value;
        }
        *model += name + "{";
        for (const auto& [key, value] : used) *model += key + "=" + Printable(value) + ",";
        *model += "}";
        // The quote of the last attribute of the rendered start tag: the one
        // parsed last, unless that attribute's value holds it.
        if (!used.empty()) {
            const bool holds = used.back().second.find(lastQuote) != std::string::npos;
            *model += holds ? (lastQuote == '"' ? '\'' : '"') : lastQuote;
        }
        const int children = depth < 5 ? static_cast<int>(m_random() % 4) : 0;
        if (children == 0) {
            const std::string text = Text(8, "xy z\t\n&;=/'\">");
            *model += "\"" + Printable(XmlNode::TrimString(text)) + "\"";
            if (text.empty() && m_random() % 2) return xml + (m_random() % 2 ? " />" : "/>");
            return xml + ">" + text + "</" + name + ">";
        }
        xml += ">";
        *model += "(";
        for (int i = 0; i < children; ++i, *model += " ") {
            xml += Text(3, " x\n") + (m_random() % 4 ? "" : "<!-- note -->") +
                   Element(depth + 1, model);
        }
        *model += ")";
        return xml + Text(3, " y\t") + "</" + name + ">";
    }

private:
    char Pick(const char* choices) {
        return choices[m_random() % std::char_traits<char>::length(choices)];
    }
    std::string Text(unsigned maxLength, const char* alphabet) {
        std::string text;
        for (auto i = m_random() % (maxLength + 1); i > 0; --i) text += Pick(alphabet);
        return text;
    }
    std::mt19937 m_random;
};

TEST(XmlTree, UpdatedContentReparsesToTheSameTree) {
    testsupport::SeededRandom random;
    SCOPED_TRACE(random.Note());
    for (int round = 0; round < 300; ++round) {
        TreeWriter writer(static_cast<unsigned>(random()));
        std::string model = "Root{}(", xml;
        for (int i = 0; i < 3; ++i, model += " ") xml += writer.Element(0, &model);
        XmlParsedNode root("Root", xml);
        ASSERT_EQ(DescribeTree(root), model + ")") << testsupport::Printable(xml);
        root.UpdateNodeContent();
        ASSERT_EQ(DescribeTree(XmlParsedNode("Root", root.GetNodeContent())), DescribeTree(root))
            << testsupport::Printable(root.GetNodeContent());
    }
}

// Inputs kept from earlier faults: each must load as the scanner says.
TEST(XmlTree, RegressionInputs) {
    const std::filesystem::path dir =
        std::filesystem::path(CIJOBRESULTS_SOURCE_DIR) / "tests" / "regressions";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::string text = testsupport::ReadWholeFile(entry.path().string());
        text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
        std::vector<XmlNode> scanned;
        XmlNode::GetXMLNodeList(text, scanned);
        XmlParsedNode node("before", "");
        XmlNode unused("unused", "");
        ASSERT_EQ(node.ReadXMLFile(entry.path().string(), unused), scanned.size() == 1)
            << entry.path();
        if (scanned.size() == 1) {
            EXPECT_EQ(Describe(node), Describe(scanned[0])) << entry.path();
        }
        CheckParsed(node, XmlParsedNode::kMaxParseDepth);
        node.UpdateNodeContent();
        ++files;
    }
    EXPECT_GT(files, 0);
}

// Each child must carry exactly the tag of a node built from the scanned
// element's rendered start tag, quote character included, whatever mix of
// quotes, repeated names, unterminated values and stray blanks it holds.
TEST(XmlTree, ChildTagsAreThoseOfTheRenderedStartTag) {
    const std::vector<std::string> pieces = {
        " a='x'", " b=\"y\"", " a=\"it's\"", " c='say \"hi\"'", " d='", " e=\"", "  ", "\t",
        " junk",  " =''",     " f = \"\"",   " a='z'",          " g=h", "=",     " '", " \""};
    testsupport::SeededRandom random;
    SCOPED_TRACE(random.Note());
    for (int round = 0; round < 2000; ++round) {
        std::string content;
        for (int element = static_cast<int>(random() % 4); element > 0; --element) {
            std::string tag = random() % 4 ? "E" : " E";
            for (int i = static_cast<int>(random() % 5); i > 0; --i)
                tag += pieces[random() % pieces.size()];
            content += random() % 2 ? "<" + tag + "/>" : "<" + tag + ">t</E>";
        }
        const XmlParsedNode parent("P", content);
        std::vector<XmlNode> scanned;
        XmlNode::GetXMLNodeList(content, scanned);
        ASSERT_EQ(parent.m_vChildren.size(), scanned.size()) << content;
        for (size_t i = 0; i < scanned.size(); ++i) {
            const XmlNode rebuilt(scanned[i].GetTag(true), "");
            const XmlParsedNode& child = parent.m_vChildren[i];
            ASSERT_EQ(child.GetTagName(), rebuilt.GetTagName()) << content;
            ASSERT_EQ(child.m_sQuoteChar, rebuilt.m_sQuoteChar) << content;
            ASSERT_EQ(child.m_vAttributeNames, rebuilt.m_vAttributeNames) << content;
            ASSERT_EQ(child.m_mapAttributes, rebuilt.m_mapAttributes) << content;
        }
    }
}

}  // namespace
