// Loading elements from files: ReadXMLFile and CreateXMLNodeListFromFile.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/describe.h"
#include "support/scratch.h"
#include "xml/XmlNode.h"

namespace {

using testsupport::Describe;

class XmlFiles : public ::testing::Test {
protected:
    std::string Write(const std::string& bytes) {
        const std::string path = m_dir.Path() + "/f" + std::to_string(++m_files);
        testsupport::WriteWholeFile(path, bytes);
        return path;
    }

    const testsupport::ScratchDir m_dir;
    int m_files = 0;
};

TEST_F(XmlFiles, ReadXMLFileJoinsLinesAndTakesTheSingleElement) {
    struct Case {
        std::string bytes, element;
    };
    const std::string line130(130, 'q'), line62(62, 'w');
    const std::vector<Case> cases = {
        {"<?xml version=\"1.0\"?>\n<r k='1'>\n   <c>x</c>\n</r>\n", "r{k=1,}'\"<c>x</c>\""},
        {"<t>x\ny</t>", "t{}\"xy\""},
        {"<t>\n" + line130 + "\n</t>", "t{}\"" + line130 + "\""},
        {"<t>" + line62 + "\n" + line62 + "\n\n\n</t>", "t{}\"" + line62 + line62 + "\""},
        {"<r k='a\r\nb'/>\r\n", "r{k=a\\rb,}'\"\""},
        {std::string("<r>a\0b\0</r>\n", 12), "r{}\"a\\x00b\\x00\""},
        {"<!-- c --><r>1</r><open>", "r{}\"1\""},
    };
    for (const Case& c : cases) {
        XmlNode node("old z='9'", "stale");
        EXPECT_TRUE(XmlNode::ReadXMLFile(Write(c.bytes), node)) << c.bytes;
        EXPECT_EQ(Describe(node), c.element) << c.bytes;
    }
}

TEST_F(XmlFiles, ReadXMLFileFailsWithoutTouchingTheNode) {
    const std::vector<std::string> files = {
        Write(""),
        Write("\n\n"),
        Write("<?xml version=\"1.0\"?>\n<!-- only -->\n"),
        Write("<a>1</a>\n<b>2</b>\n"),
        Write("<r\nk='1'>\nx\n</r>\n"),
        Write("<r>unfinished"),
        m_dir.Path() + "/missing",
        m_dir.Path(),
    };
    for (const std::string& file : files) {
        XmlNode node("keep z='9'", "content");
        EXPECT_FALSE(XmlNode::ReadXMLFile(file, node)) << file;
        EXPECT_EQ(Describe(node), "keep{z=9,}'\"content\"") << file;
    }
}

TEST_F(XmlFiles, CreateXMLNodeListFromFileAppendsOneElementPerLine) {
    struct Case {
        std::string tag, bytes;
        std::vector<std::string> added;
    };
    const std::vector<Case> cases = {
        {"Line", "a\n\nb", {"Line{}\"a\"", "Line{}\"b\""}},
        {"Line", "a\r\nb\r\n", {"Line{}\"a\\r\"", "Line{}\"b\\r\""}},
        {"Line", "", {}},
        {"Line", "\n\n", {}},
        {"Line", "  \n\r\n", {"Line{}\"  \"", "Line{}\"\\r\""}},
        {" Item kind='x' ",
         "  spaced  \n<b>",
         {"Item{kind=x,}'\"  spaced  \"", "Item{kind=x,}'\"<b>\""}},
        {"Line", std::string("n\0l\n", 4), {"Line{}\"n\\x00l\""}},
    };
    for (const Case& c : cases) {
        std::vector<XmlNode> nodes = {XmlNode("first", "kept")};
        EXPECT_TRUE(XmlNode::CreateXMLNodeListFromFile(c.tag, Write(c.bytes), nodes)) << c.bytes;
        ASSERT_EQ(nodes.size(), c.added.size() + 1) << c.bytes;
        EXPECT_EQ(Describe(nodes[0]), "first{}\"kept\"");
        for (size_t i = 0; i < c.added.size(); ++i)
            EXPECT_EQ(Describe(nodes[i + 1]), c.added[i]) << c.bytes;
    }
}

TEST_F(XmlFiles, CreateXMLNodeListFromFileFailsOnMissingOrUnreadableFiles) {
    // A directory opens but every read fails: the loop ends and reports it.
    for (const std::string& file : {m_dir.Path() + "/missing", m_dir.Path()}) {
        std::vector<XmlNode> nodes = {XmlNode("first", "kept")};
        EXPECT_FALSE(XmlNode::CreateXMLNodeListFromFile("Line", file, nodes)) << file;
        ASSERT_EQ(nodes.size(), 1u);
        EXPECT_EQ(Describe(nodes[0]), "first{}\"kept\"");
    }
    EXPECT_EQ(m_dir.Entries().size(), 0u);
}

}  // namespace
