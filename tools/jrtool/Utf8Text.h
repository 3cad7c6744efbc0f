// Makes byte strings safe for JSON. The store keeps values as raw bytes,
// while JSON text must be valid UTF-8. Well-formed UTF-8 passes unchanged;
// every byte that is not part of a well-formed sequence is read as the
// Latin-1 character of the same value (byte 0xE9 becomes U+00E9, "é"), the
// likeliest meaning of stray high bytes in job logs. The result is always
// valid UTF-8, and no byte is dropped.
#ifndef JRTOOL_UTF8TEXT_H
#define JRTOOL_UTF8TEXT_H

#include <cstddef>
#include <string>

namespace jrtool {

// Length of the well-formed UTF-8 sequence at `offset` (1 to 4), or 0 when
// the bytes there do not start one: stray continuation bytes, overlong
// forms, surrogates, values above U+10FFFF and cut sequences all give 0.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t offset);

std::string ToValidUtf8(const std::string& bytes);

// Number of characters, counting each byte outside a well-formed sequence
// as one; used to align columns.
std::size_t DisplayWidth(const std::string& text);

}  // namespace jrtool

#endif
