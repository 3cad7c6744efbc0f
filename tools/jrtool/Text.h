// Text for terminals and formats: UTF-8 checked and mended, display width,
// and the byte replacements that escapes are made of.
#ifndef JRTOOL_TEXT_H
#define JRTOOL_TEXT_H

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace jrtool {

// Length of the well-formed UTF-8 sequence at `offset` (1 to 4), or 0 when
// the bytes there do not start one: stray continuation bytes, overlong
// forms, surrogates, values above U+10FFFF and cut sequences all give 0.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t offset);

// The store keeps values as raw bytes, while JSON text and label values
// must be valid UTF-8, and a store that keeps the text must never find two
// values made one. So the text of any machine-readable output is made by
// this one rule: well-formed UTF-8 passes unchanged, each byte that is not
// part of a well-formed sequence becomes a backslash, "x" and the byte's
// two upper-case hex digits (byte 0xE9 becomes the four characters \xE9),
// and a backslash that the result would show followed by a backslash or by
// "x" and two upper-case hex digits is doubled. Read left to right, "\\"
// is a backslash, "\xHH" the byte HH, and any other backslash itself, so
// the bytes come back exactly: two different byte strings never give the
// same text. Paths such as "results\ci_push_1.xml" pass unchanged.
std::string ToValidUtf8(const std::string& bytes);

// The bytes as valid UTF-8, every byte outside a well-formed sequence
// replaced by U+FFFD: what a label value shows of them. Different byte
// strings can show the same, and then are one label value.
std::string Utf8WithReplacement(const std::string& bytes);

// Whether ToValidUtf8 doubles the backslash in front of `offset`: the
// text of the bytes from there starts with a backslash (a backslash or a
// stray byte) or with "x" and two upper-case hex digits.
bool BackslashDoubled(const std::string& bytes, std::size_t offset);

// The escape ToValidUtf8 writes for a byte outside well-formed UTF-8,
// appended: a backslash, "x" and two upper-case hex digits.
void AppendByteEscape(unsigned char byte, std::string& out);

// The bytes with each byte that is not part of well-formed UTF-8 replaced
// by what `replace` appends for it; the rest is copied as it is.
std::string RepairUtf8(const std::string& bytes, void (*replace)(unsigned char, std::string&));

// `text` with each byte of `bytes` replaced by the text at the same place
// in `with`; escapes of every format but JSON.
std::string ReplaceBytes(const std::string& text, std::string_view bytes,
                         std::initializer_list<std::string_view> with);

// Characters that change how the text around them shows without showing
// themselves: the C0 and C1 controls, DEL, and the bidirectional controls
// (U+061C, U+200E, U+200F, U+202A..U+202E, U+2066..U+2069). Shown as they
// are, a client name holding U+202E reads reversed, and one holding ESC
// steers the terminal.
bool IsHiddenControl(char32_t codePoint);

// What the layout of the text around a value does with tabs and line feeds:
// a table row must stay one line, a page lays them out harmlessly.
enum class LineBreaks { kEscaped, kKept };

// `bytes` for people to read: each hidden control shown as an escape (\t,
// \n, \r; \xNN below 0x80; \uNNNN above), and so each byte outside
// well-formed UTF-8 (\xNN); everything else as it is. The one place that
// decides how the tool's tables and its HTML page show a value.
std::string ShownEscaped(const std::string& bytes, LineBreaks lineBreaks);

// Terminal columns the text takes (see CharacterWidth.h), counting each
// byte outside a well-formed sequence as one; used to align columns.
std::size_t DisplayWidth(const std::string& text);

// The whole of `text` as a decimal number (a sign only for a signed type):
// false for anything else, or a number that does not fit.
template <class Number>
bool ParseDecimal(const std::string& text, Number& value) {
    const char* end = text.data() + text.size();
    const auto parsed = std::from_chars(text.data(), end, value);
    return !text.empty() && parsed.ec == std::errc() && parsed.ptr == end;
}

// "1 record", "2 records": the count and its noun, with `plural` for more
// than one when the noun does not take an "s".
std::string Counted(std::uint64_t count, const std::string& noun,
                    const std::string& plural = std::string());

}  // namespace jrtool

#endif
