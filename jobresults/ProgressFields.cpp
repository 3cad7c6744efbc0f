// A file's progress as text fields, for callers that keep it between runs.
#include <array>
#include <charconv>

#include "jobresults/JobResultsProgress.h"

namespace jobresults {
namespace {

constexpr std::array<const char*, 3> kStateNames = {"open", "saved", "damaged"};
constexpr std::size_t kProgressFields = 10;

// A whole field as a decimal number; false when it is anything else.
template <class Number>
bool ParseNumber(const std::string& field, Number& value) {
    const char* end = field.data() + field.size();
    const auto parsed = std::from_chars(field.data(), end, value);
    return !field.empty() && parsed.ec == std::errc() && parsed.ptr == end;
}

}  // namespace

const char* FileStateName(FileState state) { return kStateNames[static_cast<std::size_t>(state)]; }

std::vector<std::string> ProgressFields(const FileProgress& p, bool times) {
    std::vector<std::string> fields = {std::to_string(p.identity.device),
                                       std::to_string(p.identity.inode),
                                       std::to_string(p.identity.birthNanoseconds),
                                       std::to_string(p.size),
                                       std::to_string(p.modifiedNanoseconds),
                                       std::to_string(p.point.offset),
                                       std::to_string(p.point.rootContent),
                                       std::to_string(p.point.fingerprint),
                                       std::to_string(p.firstRecord),
                                       FileStateName(p.state)};
    if (!times) return fields;
    const std::int64_t changed = p.statusChangeNanoseconds;
    fields.push_back(changed == 0 ? std::string() : std::to_string(changed));
    fields.push_back(std::to_string(p.verifiedNanoseconds));
    return fields;
}

bool ProgressFromFields(const std::vector<std::string>& fields, std::size_t first, bool times,
                        FileProgress& p) {
    times = times && fields.size() == first + kProgressFields + 2;
    if (fields.size() != first + kProgressFields && !times) return false;
    const std::string* f = &fields[first];
    std::size_t state = kStateNames.size();
    for (std::size_t i = 0; i < kStateNames.size(); ++i) {
        if (f[9] == kStateNames[i]) state = i;
    }
    p.state = static_cast<FileState>(state);
    return ParseNumber(f[0], p.identity.device) && ParseNumber(f[1], p.identity.inode) &&
           ParseNumber(f[2], p.identity.birthNanoseconds) && ParseNumber(f[3], p.size) &&
           ParseNumber(f[4], p.modifiedNanoseconds) && ParseNumber(f[5], p.point.offset) &&
           ParseNumber(f[6], p.point.rootContent) && ParseNumber(f[7], p.point.fingerprint) &&
           ParseNumber(f[8], p.firstRecord) && state < kStateNames.size() &&
           (!times || ((f[10].empty() || ParseNumber(f[10], p.statusChangeNanoseconds)) &&
                       ParseNumber(f[11], p.verifiedNanoseconds)));
}

}  // namespace jobresults
