// Shared helpers of the fuzz targets: a property check that stops the run
// with a readable message, and splitting one input into its parts.
#ifndef CIJOBRESULTS_FUZZ_FUZZ_CHECK_H
#define CIJOBRESULTS_FUZZ_FUZZ_CHECK_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// A broken property is a finding like a crash: libFuzzer saves the input.
#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (false)

namespace fuzzinput {

inline std::string_view AsText(const uint8_t* data, size_t size) {
    return std::string_view(reinterpret_cast<const char*>(data), size);
}

// Cuts text at its first NUL byte: what stands before it goes to head, the
// rest to tail. Without a NUL, head is the whole text and tail is empty.
// Returns whether a NUL was found.
inline bool SplitAtNul(std::string_view text, std::string_view& head, std::string_view& tail) {
    const size_t nul = text.find('\0');
    if (nul == std::string_view::npos) {
        head = text;
        tail = std::string_view();
        return false;
    }
    head = text.substr(0, nul);
    tail = text.substr(nul + 1);
    return true;
}

inline bool IsBlank(char byte) {
    return byte == ' ' || byte == '\r' || byte == '\n' || byte == '\t';
}

// The same bytes trimmed of blanks, written out here so that the targets do
// not test the library's trimming against itself.
inline std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace fuzzinput

#endif  // CIJOBRESULTS_FUZZ_FUZZ_CHECK_H
