#include "jrtool/Html.h"

#include "jrtool/Text.h"

namespace jrtool {

std::string Escaped(const std::string& bytes) {
    return ReplaceBytes(ShownEscaped(Utf8WithReplacement(bytes), LineBreaks::kKept), "&<>\"'",
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
