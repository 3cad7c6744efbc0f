// Reading a job results document: the children of its single Root element
// as nodes, and the fields of one record.
//
// The result is the same as cutting the text level by level with the flat
// element scanner, but the Root content is cut in the same pass that finds
// Root's end tag, without copying the content first.
#ifndef CIJOBRESULTS_JOBRESULTS_JOBRESULTSSCAN_H
#define CIJOBRESULTS_JOBRESULTS_JOBRESULTSSCAN_H

#include <string_view>
#include <vector>

#include "jobresults/FileImage.h"
#include "jobresults/cijobresults.h"
#include "xml/XmlNode.h"

namespace jobresults {

// False unless the text yields exactly one top-level element, named Root;
// then children holds Root's child elements in order. The image's pages are
// given back as the children are built; children is untouched on failure.
bool ReadRootChildren(FileImage& image, std::vector<XmlNode>& children);

// Assigns the fields found in a record's content to result, each value
// trimmed; fields not present keep their value, and so does a Size that
// does not start with a number ("%llu" rules).
void FillRecord(std::string_view content, JobResults& result);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSSCAN_H
