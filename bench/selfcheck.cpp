#include "bench/selfcheck.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "bench/records.h"
#include "jobresults/cijobresults.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

std::string OnlyFile(const fs::path& dir) {
    for (const auto& entry : fs::directory_iterator(dir)) return entry.path().string();
    return {};
}

std::string Difference(const std::string& what, const std::string& written,
                       const std::string& generated) {
    std::size_t at = 0;
    while (at < written.size() && at < generated.size() && written[at] == generated[at]) ++at;
    return what + ": the writer's file (" + std::to_string(written.size()) +
           " bytes) and the generator's (" + std::to_string(generated.size()) +
           " bytes) first differ at byte " + std::to_string(at);
}

// One file of `count` records: compared once while open (ending in the
// trailer) and once after the save.
bool CheckCount(const fs::path& dir, std::uint64_t count, std::string& report) {
    fs::create_directories(dir);
    const std::string what = std::to_string(count) + " records";
    CCIJobResults writer;
    writer.createJobResults((dir / "w").string());
    for (std::uint64_t i = 0; i < count; ++i) {
        if (writer.addJobResult(MakeRecord(i)) != 1) {
            report = what + ": addJobResult failed: " + writer.m_sErrorMsg;
            return false;
        }
    }
    const std::string path = OnlyFile(dir);
    std::string written;
    std::string generated = JobResultsFileText(count);
    generated.resize(generated.size() - kFinalEndTag.size());
    generated.append(kTrailer);
    if (!SlurpFile(path, written) || written != generated) {
        report = Difference(what + " before the save", written, generated);
        return false;
    }
    writer.saveJobResults();
    generated = JobResultsFileText(count);
    if (!SlurpFile(path, written) || written != generated) {
        report = Difference(what + " after the save", written, generated);
        return false;
    }
    return true;
}

}  // namespace

bool SlurpFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool GeneratorMatchesWriter(std::string& report) {
    std::string scratch = (fs::temp_directory_path() / "cijobresults-selfcheck-XXXXXX").string();
    if (::mkdtemp(scratch.data()) == nullptr) {
        report = "cannot create a scratch directory";
        return false;
    }
    bool same = true;
    for (const std::uint64_t count : {std::uint64_t{1}, std::uint64_t{2}, std::uint64_t{1000}}) {
        same = CheckCount(fs::path(scratch) / std::to_string(count), count, report);
        if (!same) break;
    }
    fs::remove_all(scratch);
    if (same)
        report =
            "generator matches the writer byte for byte (1, 2 and 1000 records, open and saved)";
    return same;
}

}  // namespace bench
