// A text field of a caller's state file read as a decimal number.
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_DECIMALFIELD_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_DECIMALFIELD_H

#include <charconv>
#include <string>

namespace jobresults::detail {

// A whole field as a decimal number (a sign only for a signed type); false
// when it is anything else or does not fit.
template <class Number>
bool ParseDecimalField(const std::string& field, Number& value) {
    const char* end = field.data() + field.size();
    const auto parsed = std::from_chars(field.data(), end, value);
    return !field.empty() && parsed.ec == std::errc() && parsed.ptr == end;
}

}  // namespace jobresults::detail

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_DECIMALFIELD_H
