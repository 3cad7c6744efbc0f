// Reading a job results document: the children of its single Root element
// as nodes, and the fields of one record.
//
// The result is the same as cutting the text level by level with the flat
// element scanner, but the Root content is cut in the same pass that finds
// Root's end tag, without copying the content first.
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_JOBRESULTSSCAN_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_JOBRESULTSSCAN_H

#include <string_view>
#include <vector>

#include "jobresults/cijobresults.h"
#include "jobresults/detail/FileWindow.h"
#include "xml/XmlNode.h"

namespace jobresults {

// What ReadRootChildren returns for content that is not a single Root.
constexpr int kInvalidContent = -1;

// Reads the rest of the file through the window and cuts it as a job
// results document: exactly one top-level element, named Root, whose child
// elements go to children in order. Returns 0, kInvalidContent, or the
// errno of a failed read; children is untouched unless 0 is returned. The
// children are cut while the file is read: the window holds a block or two,
// or one element when that is larger.
int ReadRootChildren(FileWindow& window, std::vector<XmlNode>& children);

// Assigns the fields found in a record's content to result, each value
// trimmed; fields not present keep their value, and so does a Size that
// does not start with a number ("%llu" rules).
void FillRecord(std::string_view content, JobResults& result);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_JOBRESULTSSCAN_H
