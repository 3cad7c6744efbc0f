// A record exactly as the writer composes it (ComposedAppend): the walk
// over the writer's layout reads records so, and a torn append is accepted
// only when the rest of its write is such a record.
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_WRITTENRECORD_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_WRITTENRECORD_H

#include <cstddef>
#include <string_view>

#include "jobresults/JobResultsRecord.h"
#include "xml/detail/XmlScan.h"

namespace jobresults {

enum class LayoutMatch { kYes, kNo, kMore };

// Reads the writer's layout from text at `at`; kMore when the text held
// ends before the bytes can be judged and more of the file follows.
struct LayoutCursor {
    std::string_view text;
    size_t at;
    bool atEnd;

    // Inline: the walk takes some twenty literals a record.
    LayoutMatch Take(std::string_view literal) {
        const std::string_view rest = text.substr(at);
        if (rest.size() < literal.size()) {
            return !atEnd && xmlscan::StartsWith(literal, rest) ? LayoutMatch::kMore
                                                                : LayoutMatch::kNo;
        }
        if (!xmlscan::StartsWith(rest, literal)) return LayoutMatch::kNo;
        at += literal.size();
        return LayoutMatch::kYes;
    }
};

// A record from cursor.at exactly as the writer composes it, its fields
// to record (each value as the readers give it), the cursor behind it. Its
// final line break may be missing when what follows is damage: its fields
// are whole all the same. The record is filled only when the whole is found.
LayoutMatch TakeWrittenRecord(LayoutCursor& cursor, JobResults& record);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_WRITTENRECORD_H
