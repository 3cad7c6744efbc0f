#include "jrtool/ResultsReader.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace jrtool {

namespace {

std::string ReaderError(const CCIJobResults& reader) {
    if (reader.m_sErrorMsg.empty()) return "the reader refused the file without a message";
    if (reader.m_nErrno > 0) return reader.m_sErrorMsg + ": " + std::strerror(reader.m_nErrno);
    return reader.m_sErrorMsg;
}

}  // namespace

ReadOutcome ReadAllRecords(const ResultsFilePath& file) {
    ReadOutcome outcome;
    std::error_code failure;
    if (!std::filesystem::is_regular_file(file.WholePath(), failure)) {
        outcome.error = "No such job results file: " + file.WholePath();
        return outcome;
    }
    CCIJobResults reader;
    if (reader.openJobResults(file.dirName, file.fileName) != 1) {
        outcome.error = ReaderError(reader);
        return outcome;
    }
    for (;;) {
        JobResults record;
        const int status = reader.getNextJobResult(record);
        if (status == -1) {
            outcome.error = ReaderError(reader);
            reader.closeJobResults();
            return outcome;
        }
        outcome.records.push_back(std::move(record));
        if (status == 0) break;
    }
    outcome.valid = true;
    return outcome;
}

bool ReadFileBytes(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

FileEnding EndingOf(const std::string& wholePath) {
    static const std::string kAppendTrailer = "</JobResult>\n</Root>";
    std::ifstream in(wholePath, std::ios::binary | std::ios::ate);
    const auto size = static_cast<std::streamoff>(in.tellg());
    const auto trailerSize = static_cast<std::streamoff>(kAppendTrailer.size());
    if (!in || size < trailerSize) return FileEnding::kSaved;
    std::string tail(kAppendTrailer.size(), '\0');
    in.seekg(size - trailerSize);
    in.read(&tail[0], trailerSize);
    return in && tail == kAppendTrailer ? FileEnding::kOpen : FileEnding::kSaved;
}

}  // namespace jrtool
