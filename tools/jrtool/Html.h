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
// outside well-formed UTF-8 becomes U+FFFD, as in the tool's label values,
// and every other hidden control but tab and line feed shows as its escape
// (ShownEscaped): HTML forbids the C0 and C1 controls, and a bidirectional
// control would turn a client name around on the page.
std::string Escaped(const std::string& bytes);

// At most `limit` bytes of `bytes`, cut before a UTF-8 sequence rather
// than inside it, with "…" appended when anything was cut.
std::string Shortened(const std::string& bytes, std::size_t limit);

}  // namespace jrtool

#endif
