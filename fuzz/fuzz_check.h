// Shared helpers of the fuzz targets: property checks that stop the run
// with a readable message, and splitting one input into its parts.
#ifndef CIJOBRESULTS_FUZZ_FUZZ_CHECK_H
#define CIJOBRESULTS_FUZZ_FUZZ_CHECK_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tests/support/describe.h"
#include "tests/support/reference.h"

// A broken property is a finding like a crash: libFuzzer saves the input.
#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (false)

// Two values (elements, records, bytes) that must be equal; a difference
// stops the run like FUZZ_CHECK and shows both, described.
#define FUZZ_CHECK_SAME(actual, expected)                                                      \
    do {                                                                                       \
        const std::string fuzzActual = testsupport::Describe(actual);                          \
        const std::string fuzzExpected = testsupport::Describe(expected);                      \
        if (fuzzActual != fuzzExpected) {                                                      \
            std::fprintf(stderr, "%s:%d: property broken: %s is\n  %s\nnot\n  %s\n", __FILE__, \
                         __LINE__, #actual, fuzzActual.c_str(), fuzzExpected.c_str());         \
            std::abort();                                                                      \
        }                                                                                      \
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

// Trimming written out in the shared references, so that the targets do
// not test the library's trimming against itself.
using testsupport::IsBlank;
using testsupport::Trimmed;

}  // namespace fuzzinput

#endif  // CIJOBRESULTS_FUZZ_FUZZ_CHECK_H
