#include <string>

#include "jobresults/JobResultsReplace.h"

namespace jobresults {

std::uint64_t TextChecksum(std::string_view text) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    return hash;
}

std::string SealText(std::string_view text) {
    std::size_t lines = 0;
    for (const char c : text) lines += c == '\n' ? 1 : 0;
    return std::string(text) + "end\t" + std::to_string(lines) + '\t' +
           std::to_string(TextChecksum(text)) + '\n';
}

SealedRead OpenSealedText(std::string_view sealed, std::string_view kind,
                          std::vector<std::string>& lines) {
    if (sealed.size() <= kind.size() || sealed.substr(0, kind.size()) != kind ||
        sealed[kind.size()] != '\n') {
        return SealedRead::kOtherKind;
    }
    // The seal is the last line; all before it must give the same seal.
    const auto sealStart =
        sealed.size() < 2 ? std::string_view::npos : sealed.rfind('\n', sealed.size() - 2);
    if (sealed.back() != '\n' || sealStart == std::string_view::npos ||
        SealText(sealed.substr(0, sealStart + 1)) != sealed) {
        return SealedRead::kBroken;
    }
    lines.clear();
    for (std::size_t start = kind.size() + 1; start <= sealStart;) {
        const std::size_t end = sealed.find('\n', start);
        lines.emplace_back(sealed.substr(start, end - start));
        start = end + 1;
    }
    return SealedRead::kRead;
}

}  // namespace jobresults
