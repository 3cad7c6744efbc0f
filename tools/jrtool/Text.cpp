#include "jrtool/Text.h"

#include "jrtool/CharacterWidth.h"

#include <cstdio>
#include <string_view>

namespace jrtool {

namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Valid range of the second byte after a given lead byte; it excludes the
// overlong forms, the surrogates and code points above U+10FFFF.
bool SecondByteAllowed(unsigned char lead, unsigned char second) {
    const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    return second >= low && second <= high;
}

std::size_t ExpectedLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

}  // namespace

void AppendByteEscape(unsigned char byte, std::string& out) {
    static const char kHex[] = "0123456789ABCDEF";
    const char escape[] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
    out.append(escape, sizeof escape);
}

std::size_t Utf8SequenceLength(const std::string& text, std::size_t offset) {
    const auto lead = static_cast<unsigned char>(text[offset]);
    const std::size_t length = ExpectedLength(lead);
    if (length <= 1 || offset + length > text.size()) return length == 1 ? 1 : 0;
    if (!SecondByteAllowed(lead, static_cast<unsigned char>(text[offset + 1]))) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (!IsContinuation(static_cast<unsigned char>(text[offset + i]))) return 0;
    }
    return length;
}

std::string RepairUtf8(const std::string& bytes, void (*replace)(unsigned char, std::string&)) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = Utf8SequenceLength(bytes, i);
        if (length == 0) {
            replace(static_cast<unsigned char>(bytes[i]), out);
            ++i;
        } else {
            out.append(bytes, i, length);
            i += length;
        }
    }
    return out;
}

bool BackslashDoubled(const std::string& bytes, std::size_t offset) {
    const auto upperHex = [&](std::size_t at) {
        return (bytes[at] >= '0' && bytes[at] <= '9') || (bytes[at] >= 'A' && bytes[at] <= 'F');
    };
    if (offset >= bytes.size()) return false;
    if (bytes[offset] == '\\' || Utf8SequenceLength(bytes, offset) == 0) return true;
    return bytes[offset] == 'x' && offset + 2 < bytes.size() && upperHex(offset + 1) &&
           upperHex(offset + 2);
}

std::string ToValidUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = Utf8SequenceLength(bytes, i);
        if (length == 0) {
            AppendByteEscape(static_cast<unsigned char>(bytes[i]), out);
            ++i;
            continue;
        }
        out.append(bytes, i, length);
        if (bytes[i] == '\\' && BackslashDoubled(bytes, i + 1)) out += '\\';
        i += length;
    }
    return out;
}

namespace {

// The code point of the well-formed sequence of `length` bytes at `offset`.
char32_t DecodeUtf8(const std::string& text, std::size_t offset, std::size_t length) {
    static const unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t codePoint = static_cast<unsigned char>(text[offset]) & kLeadBits[length];
    for (std::size_t i = 1; i < length; ++i) {
        codePoint = (codePoint << 6) | (static_cast<unsigned char>(text[offset + i]) & 0x3F);
    }
    return codePoint;
}

}  // namespace

std::size_t DisplayWidth(const std::string& text) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8SequenceLength(text, i);
        // A byte outside well-formed UTF-8 counts as one column.
        width +=
            length == 0 ? 1 : static_cast<std::size_t>(CharacterWidth(DecodeUtf8(text, i, length)));
        i += length == 0 ? 1 : length;
    }
    return width;
}

bool IsHiddenControl(char32_t codePoint) {
    const auto within = [codePoint](char32_t first, char32_t last) {
        return codePoint >= first && codePoint <= last;
    };
    return codePoint < 0x20 || within(0x7F, 0x9F) || codePoint == 0x061C ||
           within(0x200E, 0x200F) || within(0x202A, 0x202E) || within(0x2066, 0x2069);
}

namespace {

// Tab, line feed and carriage return by their letters (the first two kept
// as they are where the layout allows them), any other byte as \xNN.
void AppendShownEscape(unsigned char byte, LineBreaks lineBreaks, std::string& out) {
    static constexpr std::string_view kShort = "\t\n\r", kLetters = "tnr";
    const std::size_t at = kShort.find(static_cast<char>(byte));
    if (at < 2 && lineBreaks == LineBreaks::kKept) {
        out += static_cast<char>(byte);
        return;
    }
    if (at == std::string_view::npos) return AppendByteEscape(byte, out);
    out += '\\';
    out += kLetters[at];
}

}  // namespace

std::string ShownEscaped(const std::string& bytes, LineBreaks lineBreaks) {
    std::string shown;
    shown.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = Utf8SequenceLength(bytes, i);
        const char32_t codePoint = length == 0 ? 0 : DecodeUtf8(bytes, i, length);
        if (length == 0 || (length == 1 && IsHiddenControl(codePoint))) {
            AppendShownEscape(static_cast<unsigned char>(bytes[i]), lineBreaks, shown);
            ++i;
            continue;
        }
        if (IsHiddenControl(codePoint)) {
            char text[8];
            std::snprintf(text, sizeof text, "\\u%04X", static_cast<unsigned>(codePoint));
            shown += text;
        } else {
            shown.append(bytes, i, length);
        }
        i += length;
    }
    return shown;
}

std::string ReplaceBytes(const std::string& text, std::string_view bytes,
                         std::initializer_list<std::string_view> with) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t start = 0;;) {
        const std::size_t at = text.find_first_of(bytes.data(), start, bytes.size());
        out.append(text, start, at == std::string::npos ? std::string::npos : at - start);
        if (at == std::string::npos) return out;
        out += with.begin()[bytes.find(text[at])];
        start = at + 1;
    }
}

std::string Utf8WithReplacement(const std::string& bytes) {
    return RepairUtf8(bytes, [](unsigned char, std::string& out) { out += "\xEF\xBF\xBD"; });
}

std::string Counted(std::uint64_t count, const std::string& noun, const std::string& plural) {
    return std::to_string(count) + " " + (count == 1 ? noun : plural.empty() ? noun + "s" : plural);
}

}  // namespace jrtool
