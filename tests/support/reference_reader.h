// What the reader must deliver for a text, worked out with the flat element
// scanner level by level: the reference that tests and fuzz targets compare
// the reader with. The tag names come from the caller (the tests take them
// from their golden files, the fuzz targets from the library's format).
#ifndef CIJOBRESULTS_TESTS_SUPPORT_REFERENCE_READER_H
#define CIJOBRESULTS_TESTS_SUPPORT_REFERENCE_READER_H

#include <cstdio>
#include <string>
#include <vector>

#include "jobresults/cijobresults.h"
#include "xml/XmlNode.h"

namespace testsupport {

struct RecordNames {
    std::string root;
    std::string record;
    // The field tags of ClientName, Url, BackupJobId, ErrorString and Size.
    std::vector<std::string> fields;
};

// The children of the text's only top-level element when that element is
// the root; false (and no children) when the text is not such a document.
inline bool ReferenceRootChildren(const std::string& text, const RecordNames& names,
                                  std::vector<XmlNode>& children) {
    children.clear();
    std::vector<XmlNode> top;
    XmlNode::GetXMLNodeList(text, top);
    if (top.size() != 1 || top[0].GetTagName() != names.root) return false;
    XmlNode::GetXMLNodeList(top[0].GetNodeContent(), children);
    return true;
}

// A record element read into `record`: each field from the last element of
// its name, Size as sscanf "%llu" reads it; fields it lacks keep their value.
inline JobResults ReferenceRecord(const XmlNode& element, const RecordNames& names,
                                  JobResults record) {
    std::string* const text[] = {&record.ClientName, &record.Url, &record.BackupJobId,
                                 &record.ErrorString};
    std::vector<XmlNode> fields;
    XmlNode::GetXMLNodeList(element.GetNodeContent(), fields);
    for (const XmlNode& field : fields) {
        for (size_t i = 0; i < names.fields.size(); ++i) {
            if (field.GetTagName() != names.fields[i]) continue;
            if (i < 4) *text[i] = field.GetNodeContent();
            if (i == 4) std::sscanf(field.GetNodeContent().c_str(), "%llu", &record.Size);
        }
    }
    return record;
}

}  // namespace testsupport

#endif  // CIJOBRESULTS_TESTS_SUPPORT_REFERENCE_READER_H
