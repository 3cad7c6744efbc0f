// Finds the complete records at the start of a job results file whose end
// is damaged: a writer that lost power part way through a record, a copy
// cut short, a tail of zero bytes. The writer puts each record down whole,
// "<JobResult>" to "</JobResult>", so a record with its end tag is complete
// and everything after the last such record is what the damage took.
#ifndef JRTOOL_SALVAGESCAN_H
#define JRTOOL_SALVAGESCAN_H

#include <cstddef>
#include <string>
#include <vector>

#include "jobresults/cijobresults.h"
#include "xml/XmlNode.h"

namespace jrtool {

struct SalvageScan {
    std::vector<JobResults> records;
    // Offset just past the end tag of the last complete record (or past
    // "<Root>" when there is none; 0 without a "<Root>").
    std::size_t keptBytes = 0;
    // Bytes after keptBytes other than blank space, or 0 when the file
    // ends properly after its last record.
    std::size_t discardedBytes = 0;
    // The last record is followed by nothing but the document's end tag.
    bool intact = false;
};

// Walks the records after "<Root>" while each is complete and only blank
// space lies between them. NUL bytes are data, as for the store's reader.
SalvageScan ScanCompleteRecords(const std::string& text);

// A record from the field elements of a "JobResult" element, the way the
// store's reader fills one: fields by tag name, Size as "%llu".
JobResults RecordFromFields(const std::vector<XmlNode>& fields);

}  // namespace jrtool

#endif
