// XML node toolkit: one element as a value (XmlNode), a flat scanner that
// cuts the top-level elements out of a text, file loading, and a tree of
// parsed elements (XmlParsedNode) with indented output.
//
// Strings are byte strings throughout: nothing is escaped, decoded or
// converted. No function here throws an exception of its own; malformed
// markup ends parsing silently and keeps what was parsed before it.
//
// Binary contract: the field layout, the order of the two virtual functions
// and the absence of a virtual destructor are fixed; existing callers rely on
// the size and shape of both classes. Members defined inline here are
// compiled into the caller; everything else is exported by the library.
#ifndef CIJOBRESULTS_XML_XMLNODE_H
#define CIJOBRESULTS_XML_XMLNODE_H

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "xml/LibraryExport.h"

// One XML element: tag name, content text, preferred quote character and the
// attributes (by name, and in the order in which each was first added).
class CIJOBRESULTS_API XmlNode {
public:
    // The tag text goes through SetTag; the content is stored as given.
    XmlNode(const std::string& sTag, const std::string& sContent);
    XmlNode(const std::string& sTag, int nValue);
    XmlNode(const std::string& sTag, unsigned long long nValue);

    XmlNode(const XmlNode& node)
        : m_sTagName(node.m_sTagName),
          m_sNodeContent(node.m_sNodeContent),
          m_sQuoteChar(node.m_sQuoteChar),
          m_mapAttributes(node.m_mapAttributes),
          m_vAttributeNames(node.m_vAttributeNames) {}

    XmlNode& operator=(const XmlNode& node) {
        m_sTagName = node.m_sTagName;
        m_sNodeContent = node.m_sNodeContent;
        m_sQuoteChar = node.m_sQuoteChar;
        m_mapAttributes = node.m_mapAttributes;
        m_vAttributeNames = node.m_vAttributeNames;
        return *this;
    }

    // Moves keep the layout untouched and let vectors of nodes grow without
    // copying every content text.
    XmlNode(XmlNode&& node) noexcept
        : m_sTagName(std::move(node.m_sTagName)),
          m_sNodeContent(std::move(node.m_sNodeContent)),
          m_sQuoteChar(std::move(node.m_sQuoteChar)),
          m_mapAttributes(std::move(node.m_mapAttributes)),
          m_vAttributeNames(std::move(node.m_vAttributeNames)) {}

    XmlNode& operator=(XmlNode&& node) noexcept {
        m_sTagName = std::move(node.m_sTagName);
        m_sNodeContent = std::move(node.m_sNodeContent);
        m_sQuoteChar = std::move(node.m_sQuoteChar);
        m_mapAttributes = std::move(node.m_mapAttributes);
        m_vAttributeNames = std::move(node.m_vAttributeNames);
        return *this;
    }

    // --- text utilities -------------------------------------------------
    // Cuts space, "\r", "\n" and "\t" from both ends.
    static std::string TrimString(const std::string& sText);
    static std::string IntToString(int nValue);
    static std::string UlongToString(unsigned long nValue);
    // strtol in base 10, narrowed to int by keeping the low 32 bits.
    static int StringToInt(std::string sText);

    // --- tag and attributes ---------------------------------------------
    // Empty text empties the name only; otherwise trims and parses the text.
    // Attributes parsed earlier are kept.
    void SetTag(const std::string& sTag);
    // Splits at the first space into the name and the attribute text.
    void ParseTag(const std::string& sTag);
    // Takes name="value" / name='value' pairs until the first malformed one.
    void ParseAttribute(const std::string& sAttributes);
    void AddAttribute(const std::string& sName, const std::string& sValue);
    // Empties sValue, then copies the attribute's value into it if present.
    void getAttributeValue(const std::string& sName, std::string& sValue);
    const std::string& GetTagName() const { return m_sTagName; }

    // Slot order of the two virtual functions is part of the binary contract.
    virtual const std::string& GetNodeContent() const { return m_sNodeContent; }
    virtual void SetNodeContent(const std::string& sContent) {
        m_sNodeContent = TrimString(sContent);
    }

    // --- output ---------------------------------------------------------
    // The name, followed by the attributes when bWithAttributes is true.
    std::string GetTag(bool bWithAttributes) const;
    // "<tag>", "<tag />" or "</tag>".
    static std::string OutputXMLTagString(const std::string& sTag, bool bStartTag, bool bEmptyTag);
    // One element with start tag, content and end tag each on its own line;
    // an empty content gives one self-closing tag.
    static std::string OutputXMLNodeString(const std::string& sStartTag,
                                           const std::string& sContent, const std::string& sEndTag);
    std::string OutputXMLNodeString() const;
    static std::string CombinedXMLNodeString(const std::vector<XmlNode>& vNodes);

    // --- flat scanner ---------------------------------------------------
    // Empties vNodes, then appends the top-level elements of sXml in order,
    // each with its trimmed content. Returns false when the scan stopped at
    // a "<" without ">" or at a start tag without its end tag; the elements
    // found before that point stay in the list.
    static bool GetXMLNodeList(const std::string& sXml, std::vector<XmlNode>& vNodes);
    // Whether an element named sTagName is in the list; nIndex gets the
    // position of the first, or -1.
    static bool FindXMLNodeList(const std::vector<XmlNode>& vNodes, const std::string& sTagName,
                                int& nIndex);
    // Positions of all elements named sTagName, ascending.
    static bool FindXMLNodeList(const std::vector<XmlNode>& vNodes, const std::string& sTagName,
                                std::vector<int>& vIndices);

    // --- files ----------------------------------------------------------
    // Loads a file holding one top-level element, its newlines removed.
    // Returns false, leaving node untouched, when the file cannot be opened
    // or does not yield exactly one element.
    static bool ReadXMLFile(const std::string& sFileName, XmlNode& node);
    // Appends one element per non-empty line of the file, all built from
    // the tag text sTag. False, with the list untouched, when the file cannot
    // be opened; false too when a read error cuts the file short.
    static bool CreateXMLNodeListFromFile(const std::string& sTag, const std::string& sFileName,
                                          std::vector<XmlNode>& vNodes);

    // Line end of every line the toolkit writes: "\n".
    static std::string m_sReturnChar;

    std::string m_sTagName;
    std::string m_sNodeContent;
    std::string m_sQuoteChar;
    std::map<std::string, std::string> m_mapAttributes;
    std::vector<std::string> m_vAttributeNames;
};

// An element that owns its child elements by value, parsed from its content.
//
// Depth limit: a parse builds at most kMaxParseDepth (256) levels of
// descendants below the node that parses. Elements at the deepest level are
// built but get no children; their content text stays as it is. Rendering
// and updating recurse exactly as deep as the tree they are given.
//
// Lifetime: the pointers handed out by GetXMLNodeList point into
// m_vChildren. They stay valid until this node or an ancestor is destroyed
// or re-parses (ParseChildrenNode, SetNodeContent, a successful ReadXMLFile).
// UpdateNodeContent, GetXMLNodeList and the output leave them valid.
//
// Destroy an XmlParsedNode as itself, never through an XmlNode pointer: the
// destructor is not virtual.
class CIJOBRESULTS_API XmlParsedNode : public XmlNode {
public:
    static constexpr int kMaxParseDepth = 256;

    // Stores the content as given, then parses the whole subtree.
    XmlParsedNode(const std::string& sTag, const std::string& sContent);
    // Leaves with a number as content; nothing is parsed.
    XmlParsedNode(const std::string& sTag, int nValue);
    XmlParsedNode(const std::string& sTag, unsigned long long nValue);

    XmlParsedNode(const XmlParsedNode& node) : XmlNode(node), m_vChildren(node.m_vChildren) {}
    ~XmlParsedNode() {}

    XmlParsedNode(XmlParsedNode&& node) noexcept
        : XmlNode(std::move(node)), m_vChildren(std::move(node.m_vChildren)) {}
    // The source may lie in this node's own subtree (descending by
    // assignment), so it is copied out before the old children go.
    XmlParsedNode& operator=(const XmlParsedNode& node) {
        if (this != &node) *this = XmlParsedNode(node);
        return *this;
    }
    XmlParsedNode& operator=(XmlParsedNode&& node) noexcept = default;

    // Stores the trimmed content, then parses the children again.
    void SetNodeContent(const std::string& sContent) override;
    // Rebuilds m_vChildren from m_sNodeContent.
    void ParseChildrenNode();
    // Rebuilds the content of this node and of every descendant that has
    // children from the level-0 renderings of their children.
    void UpdateNodeContent();
    // Fills vNodes with the addresses of the direct children named sTagName.
    void GetXMLNodeList(const std::string& sTagName, std::vector<XmlParsedNode*>& vNodes);
    // Loads this node from a file, then parses its children. The second
    // argument is neither read nor written.
    bool ReadXMLFile(const std::string& sFileName, XmlNode& node);

    // Three blanks per level; empty for levels of 0 or less.
    static std::string GetIndent(int nLevel);
    // This node and its subtree, one tag or text per line, indented.
    std::string OutputXMLNodeString(int nLevel);
    std::string OutputXMLNodeString();

    std::vector<XmlParsedNode> m_vChildren;

private:
    CIJOBRESULTS_LOCAL void ParseChildren(int nLevelsLeft);
    CIJOBRESULTS_LOCAL void UpdateContent();
    CIJOBRESULTS_LOCAL void AppendRendering(std::string& sOut, int nLevel) const;
};

#endif  // CIJOBRESULTS_XML_XMLNODE_H
