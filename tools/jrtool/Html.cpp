#include "jrtool/Html.h"

#include "jrtool/Text.h"

namespace jrtool {

namespace {

bool IsForbiddenControl(unsigned char c) {
    return (c < 0x20 && c != '\t' && c != '\n') || c == 0x7F;
}

}  // namespace

std::string Escaped(const std::string& bytes) {
    // A forbidden control becomes a byte that is never valid UTF-8, so the
    // repair below replaces it as it replaces the others.
    std::string cleaned = bytes;
    for (char& c : cleaned) {
        if (IsForbiddenControl(static_cast<unsigned char>(c))) c = '\xFF';
    }
    return ReplaceBytes(Utf8WithReplacement(cleaned), "&<>\"'",
                        {"&amp;", "&lt;", "&gt;", "&quot;", "&#39;"});
}

std::string Shortened(const std::string& bytes, std::size_t limit) {
    if (bytes.size() <= limit) return bytes;
    std::size_t cut = limit;
    // Back over continuation bytes (10xxxxxx) to the start of the sequence.
    for (int back = 0;
         back < 3 && cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80; ++back) {
        --cut;
    }
    return bytes.substr(0, cut) + "\xE2\x80\xA6";
}

}  // namespace jrtool
