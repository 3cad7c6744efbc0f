// Text for HTML pages built from untrusted bytes: client names and error
// texts are whatever the jobs wrote, so every value goes through Escaped()
// before it reaches a page, in element text and in quoted attributes alike.
#ifndef JRTOOL_HTML_H
#define JRTOOL_HTML_H

#include <cstddef>
#include <string>

namespace jrtool {

// The bytes as HTML text, safe in element content and in attribute values
// quoted with either quote: & < > " ' become character references, a byte
// outside well-formed UTF-8 and a control character other than tab and
// line break become U+FFFD (HTML forbids them, and a NUL would end a value
// in some consumers).
std::string Escaped(const std::string& bytes);

// At most `limit` bytes of `bytes`, cut before a UTF-8 sequence rather
// than inside it, with "…" appended when anything was cut.
std::string Shortened(const std::string& bytes, std::size_t limit);

}  // namespace jrtool

#endif
