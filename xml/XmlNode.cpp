// XmlNode: element record, tag and attribute parsing, element output, the
// flat scanner and file loading.
#include "xml/XmlNode.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string_view>
#include <utility>

#include "xml/detail/XmlScan.h"

std::string XmlNode::m_sReturnChar = "\n";

namespace {

using std::string_view;

void AppendView(std::string& out, string_view text) { out.append(text.data(), text.size()); }

// What AddAttribute does, without its copies of name and value.
void AddParsedAttribute(XmlNode& node, string_view name, string_view value) {
    const auto [entry, inserted] = node.m_mapAttributes.try_emplace(std::string(name));
    if (inserted) node.m_vAttributeNames.emplace_back(name);
    entry->second.assign(value.data(), value.size());
}

// Room for the attributes a text may hold (one per "=", a few at most), so
// that the list of names of a new node is not grown one by one. A list that
// holds names already grows as usual: reserving a little more on every call
// would copy it each time.
void ReserveAttributeNames(XmlNode& node, string_view text) {
    constexpr size_t kMostReserved = 8;
    if (!node.m_vAttributeNames.empty()) return;
    size_t count = 0;
    for (size_t pos = text.find('='); pos != string_view::npos && count < kMostReserved;
         pos = text.find('=', pos + 1)) {
        ++count;
    }
    node.m_vAttributeNames.reserve(count);
}

// name="value" / name='value' pairs, one per step, until the first malformed
// one. The quote character is noted before the closing quote is looked for.
void ParseAttributeText(XmlNode& node, string_view text) {
    ReserveAttributeNames(node, text);
    size_t pos = 0;
    for (;;) {
        const size_t equals = text.find('=', pos);
        if (equals == string_view::npos) return;
        const string_view name = xmlscan::Trim(text.substr(pos, equals - pos));
        size_t quote = text.find_first_not_of(' ', equals + 1);
        if (quote == string_view::npos) return;
        const char quoteChar = text[quote];
        if (quoteChar != '"' && quoteChar != '\'') return;
        node.m_sQuoteChar.assign(1, quoteChar);
        const size_t closing = text.find(quoteChar, quote + 1);
        if (closing == string_view::npos) return;
        AddParsedAttribute(node, name, text.substr(quote + 1, closing - quote - 1));
        pos = closing + 1;
    }
}

void ParseTagText(XmlNode& node, string_view tag) {
    const size_t space = tag.find(' ');
    node.m_sTagName.assign(tag.data(), std::min(space, tag.size()));
    if (space != string_view::npos) ParseAttributeText(node, tag.substr(space + 1));
}

void SetTagText(XmlNode& node, string_view tag) {
    if (tag.empty()) {
        node.m_sTagName.clear();
        return;
    }
    ParseTagText(node, xmlscan::Trim(tag));
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Reads the whole stream, dropping every newline byte. False on a read error.
bool ReadWithoutNewlines(std::FILE* file, std::string& text) {
    char buffer[65536];
    for (;;) {
        const size_t count = std::fread(buffer, 1, sizeof buffer, file);
        const char* begin = buffer;
        const char* const end = buffer + count;
        while (begin < end) {
            const void* newline = std::memchr(begin, '\n', static_cast<size_t>(end - begin));
            const char* stop = newline ? static_cast<const char*>(newline) : end;
            text.append(begin, stop);
            begin = newline ? stop + 1 : end;
        }
        if (count < sizeof buffer) return std::ferror(file) == 0;
    }
}

// The text GetTag(true) gives: the name, then each attribute in attribute
// order, quoted with the preferred quote unless its value holds that quote.
void AppendStartTagText(const XmlNode& node, std::string& out) {
    out.append(node.m_sTagName);
    const string_view preferred =
        node.m_sQuoteChar.empty() ? string_view("'") : string_view(node.m_sQuoteChar);
    const string_view other = preferred == "\"" ? string_view("'") : string_view("\"");
    for (const std::string& name : node.m_vAttributeNames) {
        const auto entry = node.m_mapAttributes.find(name);
        if (entry == node.m_mapAttributes.end()) continue;
        const std::string& value = entry->second;
        const string_view quote = value.find(preferred) != std::string::npos ? other : preferred;
        out.append(1, ' ').append(name).append(1, '=');
        AppendView(out, quote);
        out.append(value);
        AppendView(out, quote);
    }
}

// What GetIndent gives: three blanks per level, none for levels of 0 or less.
void AppendIndent(std::string& out, int level) {
    if (level > 0) out.append(3 * static_cast<size_t>(level), ' ');
}

// One element as the scan found it: the views point into the scanned text.
struct ScannedElement {
    string_view tagText;  // without the "/" of a self-closing tag
    string_view content;  // trimmed
    bool plainName;       // the tag text is the name: SetTag would parse no attributes
};

// Whether text is a member of one of the nodes, and so is changed when the
// nodes are reused.
bool LivesIn(const std::string& text, const std::vector<XmlNode>& nodes) {
    const auto at = reinterpret_cast<std::uintptr_t>(&text);
    const auto begin = reinterpret_cast<std::uintptr_t>(nodes.data());
    return at >= begin && at - begin < nodes.size() * sizeof(XmlNode);
}

// Attributes of reused nodes are set aside, not destroyed, until the list is
// filled: the scanned text may be one of their strings.
using RetiredAttributes = std::pair<std::map<std::string, std::string>, std::vector<std::string>>;

// Makes a node of the list what a fresh node would be before SetTag. Name
// and content are assigned in full afterwards, reusing their capacity.
void ResetNode(XmlNode& node, std::vector<RetiredAttributes>& retired) {
    node.m_sQuoteChar.clear();
    if (node.m_mapAttributes.empty() && node.m_vAttributeNames.empty()) return;
    retired.emplace_back();
    retired.back().first.swap(node.m_mapAttributes);
    retired.back().second.swap(node.m_vAttributeNames);
}

// Assigns text to a string of a reused node. A buffer far larger than the
// text is given back rather than kept, so that a list reused for smaller
// scans does not hold on to the memory of larger ones.
void AssignReusing(std::string& target, string_view text) {
    constexpr size_t kSlack = 4096;
    if (target.capacity() > 2 * text.size() + kSlack) {
        std::string(text).swap(target);
    } else {
        target.assign(text.data(), text.size());
    }
}

void FillNode(XmlNode& node, const ScannedElement& element) {
    if (element.plainName) {
        AssignReusing(node.m_sTagName, element.tagText);
    } else {
        SetTagText(node, element.tagText);
    }
    AssignReusing(node.m_sNodeContent, element.content);
}

// Fills a list in scanning order. The nodes the list already holds are
// reused as the elements come; elements beyond them wait until the scan is
// over, so that the list grows once, to its exact size. The scanned text
// must not be a member of any node of the list.
class NodeListFiller {
public:
    explicit NodeListFiller(std::vector<XmlNode>& nodes) : m_nodes(nodes) {}

    void Add(const ScannedElement& element) {
        if (m_reused < m_nodes.size()) {
            XmlNode& node = m_nodes[m_reused++];
            ResetNode(node, m_retired);
            FillNode(node, element);
        } else {
            m_pending.push_back(element);
        }
    }

    // Appends the waiting elements, or drops the nodes left unused.
    void Finish() {
        if (m_pending.empty()) {
            m_nodes.erase(m_nodes.begin() + static_cast<std::ptrdiff_t>(m_reused), m_nodes.end());
            return;
        }
        m_nodes.reserve(m_nodes.size() + m_pending.size());
        for (const ScannedElement& element : m_pending) {
            m_nodes.emplace_back(std::string(), std::string());
            FillNode(m_nodes.back(), element);
        }
    }

private:
    std::vector<XmlNode>& m_nodes;
    size_t m_reused = 0;
    std::vector<ScannedElement> m_pending;
    std::vector<RetiredAttributes> m_retired;
};

// Gives a fresh child the tag of a node built from the start-tag text that
// the scanned element renders to (GetTag(true)). A plain name renders as
// itself; other tags are parsed, rendered, and parsed once more only when the
// rendering differs from the trimmed tag text, since parsing a text again
// that trims to the same text gives the same tag.
void SetChildTag(XmlNode& child, const ScannedElement& element, std::string& rendering) {
    if (element.plainName) {
        child.m_sTagName.assign(element.tagText.data(), element.tagText.size());
        return;
    }
    SetTagText(child, element.tagText);
    rendering.clear();
    AppendStartTagText(child, rendering);
    if (rendering == xmlscan::Trim(element.tagText)) return;
    child.m_sQuoteChar.clear();
    child.m_mapAttributes.clear();
    child.m_vAttributeNames.clear();
    SetTagText(child, rendering);
}

// Builds a tree level by level from a work list instead of recursing. Each
// node's children are scanned first and counted, so that its vector of
// children is allocated once and never moves: the work list can hold
// pointers into it. The scan buffer is shared by all nodes.
class TreeBuilder {
public:
    void Build(XmlParsedNode& root, int nLevelsLeft) {
        m_work.push_back({&root, nLevelsLeft});
        while (!m_work.empty()) {
            const Work work = m_work.back();
            m_work.pop_back();
            AddChildren(*work.node, work.levelsLeft);
        }
    }

private:
    struct Work {
        XmlParsedNode* node;
        int levelsLeft;  // levels to build below node, at least 1
    };

    void AddChildren(XmlParsedNode& node, int levelsLeft) {
        m_elements.clear();
        xmlscan::ForEachNamedElement(node.m_sNodeContent, [this](string_view tagText,
                                                                 string_view name,
                                                                 string_view content) {
            m_elements.push_back({tagText, xmlscan::Trim(content), name.size() == tagText.size()});
            return true;
        });
        std::vector<XmlParsedNode>& children = node.m_vChildren;
        children.reserve(m_elements.size());
        for (const ScannedElement& element : m_elements) {
            children.push_back(m_blank);
            XmlParsedNode& child = children.back();
            SetChildTag(child, element, m_rendering);
            child.m_sNodeContent.assign(element.content.data(), element.content.size());
        }
        if (levelsLeft <= 1) return;
        // Last child first, so the work list takes the children in order.
        for (auto child = children.rbegin(); child != children.rend(); ++child) {
            m_work.push_back({&*child, levelsLeft - 1});
        }
    }

    const XmlParsedNode m_blank{std::string(), std::string()};  // what each child starts as
    std::string m_rendering;
    std::vector<ScannedElement> m_elements;
    std::vector<Work> m_work;
};

// A fresh node for one element: its tag text through SetTag, its content
// trimmed (what GetXMLNodeList gives; ReadXMLFile uses it).
XmlNode MakeNode(string_view tagText, string_view content) {
    XmlNode node{std::string(), std::string()};
    SetTagText(node, tagText);
    AppendView(node.m_sNodeContent, xmlscan::Trim(content));
    return node;
}

}  // namespace

// --- construction ------------------------------------------------------

XmlNode::XmlNode(const std::string& sTag, const std::string& sContent) {
    SetTag(sTag);
    m_sNodeContent = sContent;
}

XmlNode::XmlNode(const std::string& sTag, int nValue) {
    SetTag(sTag);
    m_sNodeContent = IntToString(nValue);
}

XmlNode::XmlNode(const std::string& sTag, unsigned long long nValue) {
    SetTag(sTag);
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%llu", nValue);
    m_sNodeContent = buffer;
}

// --- text utilities ----------------------------------------------------

std::string XmlNode::TrimString(const std::string& sText) {
    return std::string(xmlscan::Trim(sText));
}

std::string XmlNode::IntToString(int nValue) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d", nValue);
    return buffer;
}

std::string XmlNode::UlongToString(unsigned long nValue) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%lu", nValue);
    return buffer;
}

// By value: the exported signature is fixed.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
int XmlNode::StringToInt(std::string sText) {
    const long value = std::strtol(sText.c_str(), nullptr, 10);
    // Keep the low 32 bits, so out-of-range values wrap.
    const auto low = static_cast<std::uint32_t>(static_cast<unsigned long>(value));
    int result;
    std::memcpy(&result, &low, sizeof result);
    return result;
}

// --- tag and attributes ------------------------------------------------

void XmlNode::SetTag(const std::string& sTag) { SetTagText(*this, sTag); }

void XmlNode::ParseTag(const std::string& sTag) { ParseTagText(*this, sTag); }

void XmlNode::ParseAttribute(const std::string& sAttributes) {
    ParseAttributeText(*this, sAttributes);
}

void XmlNode::AddAttribute(const std::string& sName, const std::string& sValue) {
    auto [entry, inserted] = m_mapAttributes.try_emplace(sName, sValue);
    if (inserted) {
        m_vAttributeNames.push_back(sName);
    } else {
        entry->second = sValue;
    }
}

void XmlNode::getAttributeValue(const std::string& sName, std::string& sValue) {
    sValue.clear();
    const auto entry = m_mapAttributes.find(sName);
    if (entry != m_mapAttributes.end()) sValue = entry->second;
}

// --- output ------------------------------------------------------------

std::string XmlNode::GetTag(bool bWithAttributes) const {
    if (!bWithAttributes) return m_sTagName;
    std::string tag;
    AppendStartTagText(*this, tag);
    return tag;
}

std::string XmlNode::OutputXMLTagString(const std::string& sTag, bool bStartTag, bool bEmptyTag) {
    if (!bStartTag) return "</" + sTag + ">";
    return bEmptyTag ? "<" + sTag + " />" : "<" + sTag + ">";
}

std::string XmlNode::OutputXMLNodeString(const std::string& sStartTag, const std::string& sContent,
                                         const std::string& sEndTag) {
    std::string out;
    if (sContent.empty()) {
        out.reserve(sStartTag.size() + 3 + m_sReturnChar.size() + 1);
        out.append("<").append(sStartTag).append(" />").append(m_sReturnChar);
        return out;
    }
    const bool endsWithLine = EndsWith(sContent, m_sReturnChar);
    out.reserve(sStartTag.size() + sContent.size() + sEndTag.size() + 5 + 3 * m_sReturnChar.size());
    out.append("<").append(sStartTag).append(">").append(m_sReturnChar).append(sContent);
    if (!endsWithLine) out.append(m_sReturnChar);
    out.append("</").append(sEndTag).append(">").append(m_sReturnChar);
    return out;
}

std::string XmlNode::OutputXMLNodeString() const {
    return OutputXMLNodeString(GetTag(true), m_sNodeContent, GetTag(false));
}

std::string XmlNode::CombinedXMLNodeString(const std::vector<XmlNode>& vNodes) {
    std::string out;
    for (const XmlNode& node : vNodes) out += node.OutputXMLNodeString();
    return out;
}

// --- flat scanner ------------------------------------------------------

bool XmlNode::GetXMLNodeList(const std::string& sXml, std::vector<XmlNode>& vNodes) {
    // A caller that cuts level by level with one list passes the content of
    // one of its nodes: that text lives in the old list, so the new list is
    // built apart and the old one goes only after the scan.
    std::vector<XmlNode> fresh;
    std::vector<XmlNode>& target = LivesIn(sXml, vNodes) ? fresh : vNodes;
    NodeListFiller filler(target);
    const bool complete = xmlscan::ForEachNamedElement(
        sXml, [&filler](string_view tagText, string_view name, string_view content) {
            filler.Add({tagText, xmlscan::Trim(content), name.size() == tagText.size()});
            return true;
        });
    filler.Finish();
    if (&target == &fresh) vNodes.swap(fresh);
    return complete;
}

bool XmlNode::FindXMLNodeList(const std::vector<XmlNode>& vNodes, const std::string& sTagName,
                              int& nIndex) {
    nIndex = -1;
    for (size_t i = 0; i < vNodes.size(); ++i) {
        if (vNodes[i].GetTagName() == sTagName) {
            nIndex = static_cast<int>(i);
            break;
        }
    }
    return nIndex >= 0;
}

bool XmlNode::FindXMLNodeList(const std::vector<XmlNode>& vNodes, const std::string& sTagName,
                              std::vector<int>& vIndices) {
    vIndices.clear();
    for (size_t i = 0; i < vNodes.size(); ++i) {
        if (vNodes[i].GetTagName() == sTagName) vIndices.push_back(static_cast<int>(i));
    }
    return !vIndices.empty();
}

// --- files -------------------------------------------------------------

bool XmlNode::ReadXMLFile(const std::string& sFileName, XmlNode& node) {
    std::FILE* file = std::fopen(sFileName.c_str(), "rbe");
    if (file == nullptr) return false;
    std::string text;
    const bool complete = ReadWithoutNewlines(file, text);
    std::fclose(file);
    if (!complete) return false;

    // Only the count matters until the single element is known; a second
    // element ends the scan.
    int found = 0;
    string_view tagText;
    string_view content;
    xmlscan::ForEachElement(text, [&](string_view elementTag, string_view elementContent) {
        tagText = elementTag;
        content = elementContent;
        return ++found < 2;
    });
    if (found != 1) return false;
    node = MakeNode(tagText, content);
    return true;
}

bool XmlNode::CreateXMLNodeListFromFile(const std::string& sTag, const std::string& sFileName,
                                        std::vector<XmlNode>& vNodes) {
    std::ifstream stream(sFileName, std::ios::in);
    if (stream.fail()) return false;
    // Every element shares the same tag: parse it once and copy.
    const XmlNode prototype(sTag, std::string());
    std::string line;
    while (std::getline(stream, line)) {
        if (line.empty()) continue;
        vNodes.push_back(prototype);
        vNodes.back().m_sNodeContent = line;
    }
    // The loop also ends on a read error; only a clean end of file is success.
    return stream.eof() && !stream.bad();
}

// --- parsed element tree -----------------------------------------------

XmlParsedNode::XmlParsedNode(const std::string& sTag, const std::string& sContent)
    : XmlNode(sTag, sContent) {
    ParseChildren(kMaxParseDepth);
}

XmlParsedNode::XmlParsedNode(const std::string& sTag, int nValue) : XmlNode(sTag, nValue) {}

XmlParsedNode::XmlParsedNode(const std::string& sTag, unsigned long long nValue)
    : XmlNode(sTag, nValue) {}

void XmlParsedNode::SetNodeContent(const std::string& sContent) {
    m_sNodeContent = TrimString(sContent);
    ParseChildren(kMaxParseDepth);
}

void XmlParsedNode::ParseChildrenNode() { ParseChildren(kMaxParseDepth); }

void XmlParsedNode::ParseChildren(int nLevelsLeft) {
    m_vChildren.clear();
    if (nLevelsLeft <= 0 || m_sNodeContent.empty()) return;
    TreeBuilder().Build(*this, nLevelsLeft);
}

void XmlParsedNode::UpdateNodeContent() { UpdateContent(); }

void XmlParsedNode::UpdateContent() {
    if (m_vChildren.empty()) return;
    m_sNodeContent.clear();
    for (XmlParsedNode& child : m_vChildren) {
        child.UpdateContent();
        child.AppendRendering(m_sNodeContent, 0);
    }
}

void XmlParsedNode::GetXMLNodeList(const std::string& sTagName,
                                   std::vector<XmlParsedNode*>& vNodes) {
    vNodes.clear();
    for (XmlParsedNode& child : m_vChildren) {
        if (child.GetTagName() == sTagName) vNodes.push_back(&child);
    }
}

bool XmlParsedNode::ReadXMLFile(const std::string& sFileName, XmlNode& /*node*/) {
    if (!XmlNode::ReadXMLFile(sFileName, *this)) return false;
    ParseChildren(kMaxParseDepth);
    return true;
}

std::string XmlParsedNode::GetIndent(int nLevel) {
    return nLevel > 0 ? std::string(3 * static_cast<size_t>(nLevel), ' ') : std::string();
}

std::string XmlParsedNode::OutputXMLNodeString(int nLevel) {
    std::string out;
    AppendRendering(out, nLevel);
    return out;
}

std::string XmlParsedNode::OutputXMLNodeString() { return OutputXMLNodeString(0); }

// Renders into one buffer, so the cost is linear in the output; tags and
// indents are appended in place, as GetIndent and OutputXMLTagString would
// give them.
void XmlParsedNode::AppendRendering(std::string& sOut, int nLevel) const {
    const bool empty = m_sNodeContent.empty();
    AppendIndent(sOut, nLevel);
    sOut += '<';
    AppendStartTagText(*this, sOut);
    sOut.append(empty ? " />" : ">").append(m_sReturnChar);
    if (empty) return;
    if (!m_vChildren.empty()) {
        for (const XmlParsedNode& child : m_vChildren) child.AppendRendering(sOut, nLevel + 1);
    } else {
        AppendIndent(sOut, nLevel + 1);
        sOut.append(m_sNodeContent).append(m_sReturnChar);
    }
    AppendIndent(sOut, nLevel);
    sOut.append("</").append(m_sTagName).append(">").append(m_sReturnChar);
}
