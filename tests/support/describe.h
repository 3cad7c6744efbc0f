// Readable descriptions of bytes, elements, trees and records, for failure
// messages of the tests and the fuzz targets. Two values that differ have
// different descriptions, so comparing descriptions compares the values.
#ifndef CIJOBRESULTS_TESTS_SUPPORT_DESCRIBE_H
#define CIJOBRESULTS_TESTS_SUPPORT_DESCRIBE_H

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "jobresults/cijobresults.h"
#include "xml/XmlNode.h"

namespace testsupport {

// The bytes with line ends, tabs, backslashes, double quotes and every
// byte outside printable ASCII escaped: \n \r \t \\ \" \xNN.
inline std::string Printable(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const char* const named = byte == '\n'   ? "\\n"
                                  : byte == '\r' ? "\\r"
                                  : byte == '\t' ? "\\t"
                                  : byte == '\\' ? "\\\\"
                                  : byte == '"'  ? "\\\""
                                                 : nullptr;
        if (named != nullptr) {
            text += named;
        } else if (byte >= 0x20 && byte < 0x7f) {
            text += byte;
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(byte));
            text += escaped;
        }
    }
    return text;
}

// name{attribute=value,...} and the quote character, in output order.
inline std::string DescribeTag(const XmlNode& node) {
    std::string text = Printable(node.GetTagName()) + "{";
    for (const std::string& name : node.m_vAttributeNames) {
        const auto value = node.m_mapAttributes.find(name);
        text += Printable(name) + "=" +
                (value == node.m_mapAttributes.end() ? "?" : Printable(value->second)) + ",";
    }
    if (node.m_mapAttributes.size() != node.m_vAttributeNames.size()) {
        text += "| map:";  // names and map out of step: show the map too
        for (const auto& [name, value] : node.m_mapAttributes) {
            text += Printable(name) + "=" + Printable(value) + ",";
        }
    }
    return text + "}" + node.m_sQuoteChar;
}

// name{attribute=value,...}quote"content"
inline std::string Describe(const XmlNode& node) {
    return DescribeTag(node) + "\"" + Printable(node.GetNodeContent()) + "\"";
}

// Each element described, followed by a blank.
inline std::string Describe(const std::vector<XmlNode>& nodes) {
    std::string text;
    for (const XmlNode& node : nodes) text += Describe(node) + " ";
    return text;
}

// The whole subtree: leaves as Describe gives them, other nodes as their
// tag followed by their children in parentheses.
inline std::string DescribeTree(const XmlParsedNode& node) {
    if (node.m_vChildren.empty()) return Describe(node);
    std::string text = DescribeTag(node) + "(";
    for (const XmlParsedNode& child : node.m_vChildren) text += DescribeTree(child) + " ";
    return text + ")";
}

// {"client", "url", "job id", "error", size}
inline std::string Describe(const JobResults& record) {
    return "{\"" + Printable(record.ClientName) + "\", \"" + Printable(record.Url) + "\", \"" +
           Printable(record.BackupJobId) + "\", \"" + Printable(record.ErrorString) + "\", " +
           std::to_string(record.Size) + "}";
}

// Each record described, followed by a blank.
inline std::string Describe(const std::vector<JobResults>& records) {
    std::string text;
    for (const JobResults& record : records) text += Describe(record) + " ";
    return text;
}

}  // namespace testsupport

#endif  // CIJOBRESULTS_TESTS_SUPPORT_DESCRIBE_H
