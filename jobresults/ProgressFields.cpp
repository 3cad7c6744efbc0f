// A file's progress as text fields, for callers that keep it between runs.
#include <array>

#include "jobresults/JobResultsProgress.h"
#include "jobresults/detail/DecimalField.h"

namespace jobresults {
namespace {

constexpr std::array<const char*, 3> kStateNames = {"open", "saved", "damaged"};
constexpr std::size_t kProgressFields = 10;

}  // namespace

using detail::ParseDecimalField;

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
    return ParseDecimalField(f[0], p.identity.device) &&
           ParseDecimalField(f[1], p.identity.inode) &&
           ParseDecimalField(f[2], p.identity.birthNanoseconds) &&
           ParseDecimalField(f[3], p.size) && ParseDecimalField(f[4], p.modifiedNanoseconds) &&
           ParseDecimalField(f[5], p.point.offset) &&
           ParseDecimalField(f[6], p.point.rootContent) &&
           ParseDecimalField(f[7], p.point.fingerprint) && ParseDecimalField(f[8], p.firstRecord) &&
           state < kStateNames.size() &&
           (!times || ((f[10].empty() || ParseDecimalField(f[10], p.statusChangeNanoseconds)) &&
                       ParseDecimalField(f[11], p.verifiedNanoseconds)));
}

std::vector<std::string> KnownFileFields(const KnownFile& file, bool times) {
    std::vector<std::string> fields = {file.fileName};
    if (times) fields.push_back(std::to_string(file.createdSeconds));
    for (std::string& field : ProgressFields(file.progress, times))
        fields.push_back(std::move(field));
    return fields;
}

bool KnownFileFromFields(const std::vector<std::string>& fields, std::size_t first, bool times,
                         KnownFile& file) {
    const std::size_t progress = first + (times ? 2 : 1);
    if (fields.size() <= progress) return false;
    file.fileName = fields[first];
    return ProgressFromFields(fields, progress, times, file.progress) &&
           (!times || ParseDecimalField(fields[first + 1], file.createdSeconds));
}

}  // namespace jobresults
