// The fields of one record: the short way for a record laid out exactly as
// the writer lays it out (one pass, a few fixed compares per field), and
// the general scan of the flat element scanner for any other, which gives
// the same fields wherever both apply.
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_PLAINRECORD_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_PLAINRECORD_H

#include <cstddef>
#include <string_view>

#include "jobresults/JobResultsRecord.h"

namespace jobresults {

// The record from pos on, when it is laid out exactly as the writer does
// it: "<JobResult>", the five plain fields in order, blanks, and its end
// tag; the fields go to record, open is its "<" and endTag is the end
// tag's "<". The general scan cuts the same element and fills the same
// fields: no field holds a "<", so the first end tag of the record is this
// one and nothing in front of it can be Root's end tag. The record is left
// alone unless the whole record is found.
bool CutPlainRecord(std::string_view text, size_t pos, JobResults& record, size_t& open,
                    size_t& endTag);

// Assigns the fields found in a record's content to result, each value
// trimmed; fields not present keep their value, and so does a Size that
// does not start with a number ("%llu" rules). False, with result
// untouched, when the content is damaged: an element in it is not closed.
bool FillRecord(std::string_view content, JobResults& result);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_PLAINRECORD_H
