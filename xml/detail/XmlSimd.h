// Internal to the library: byte searches tuned for markup. Tags and end tags
// stand a few bytes apart, so most searches end inside the first 16-byte
// block, where a vector compare beats the call overhead of memchr or memmem.
#ifndef CIJOBRESULTS_XML_DETAIL_XMLSIMD_H
#define CIJOBRESULTS_XML_DETAIL_XMLSIMD_H

#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace xmlscan {

// The first byte c at or after from, or npos.
template <char c>
size_t FindChar(std::string_view text, size_t from) {
    const char* data = text.data();
    const size_t size = text.size();
    size_t pos = from;
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi8(c);
    for (; pos + 16 <= size; pos += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos));
        const unsigned mask =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, wanted)));
        if (mask != 0) return pos + static_cast<size_t>(__builtin_ctz(mask));
    }
#endif
    for (; pos < size; ++pos) {
        if (data[pos] == c) return pos;
    }
    return std::string_view::npos;
}

// Calls check(pos) for every "</" at or after from that has a ">" at one
// of the two offsets gaps (the last byte of each end tag looked for), in
// order, until check returns true; returns that position, or npos. Each
// 16-byte block is loaded once per offset, however many "<" it holds, and
// the ">" test leaves few positions for check: markup is full of end tags,
// but mostly of other lengths.
// The first c or NUL byte at or after from, or npos: the search for c
// that also stops at a byte no text holds.
template <char c>
size_t FindCharOrNul(std::string_view text, size_t from) {
    const char* data = text.data();
    const size_t size = text.size();
    size_t pos = from;
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi8(c);
    const __m128i zero = _mm_setzero_si128();
    for (; pos + 16 <= size; pos += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos));
        const __m128i hits =
            _mm_or_si128(_mm_cmpeq_epi8(chunk, wanted), _mm_cmpeq_epi8(chunk, zero));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
        if (mask != 0) return pos + static_cast<size_t>(__builtin_ctz(mask));
    }
#endif
    for (; pos < size; ++pos) {
        if (data[pos] == c || data[pos] == '\0') return pos;
    }
    return std::string_view::npos;
}

template <class Check>
size_t ScanEndTagStarts(std::string_view text, size_t from, const size_t (&gaps)[2],
                        Check&& check) {
    const char* data = text.data();
    const size_t size = text.size();
    size_t pos = from;
#if defined(__SSE2__)
    const size_t reach = (gaps[0] > gaps[1] ? gaps[0] : gaps[1]) + 16;
    const __m128i open = _mm_set1_epi8('<');
    const __m128i slash = _mm_set1_epi8('/');
    const __m128i close = _mm_set1_epi8('>');
    const auto load = [data](size_t at) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    };
    for (; pos + reach <= size; pos += 16) {
        const __m128i starts =
            _mm_and_si128(_mm_cmpeq_epi8(load(pos), open), _mm_cmpeq_epi8(load(pos + 1), slash));
        const __m128i ends = _mm_or_si128(_mm_cmpeq_epi8(load(pos + gaps[0]), close),
                                          _mm_cmpeq_epi8(load(pos + gaps[1]), close));
        for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(starts, ends)));
             mask != 0; mask &= mask - 1) {
            const size_t at = pos + static_cast<size_t>(__builtin_ctz(mask));
            if (check(at)) return at;
        }
    }
#endif
    for (; pos + 1 < size; ++pos) {
        if (data[pos] == '<' && data[pos + 1] == '/' && check(pos)) return pos;
    }
    return std::string_view::npos;
}

// Names up to this length are compared at each "</"; the compare then costs
// a bounded amount per candidate, so the search stays linear. Longer names
// go to memmem, which is linear whatever the text.
constexpr size_t kShortNameLimit = 64;

// Position of "</" + name + ">" in text at or after from, or npos.
inline size_t FindEndTag(std::string_view text, std::string_view name, size_t from) {
    const size_t length = name.size() + 3;
    if (from > text.size() || text.size() - from < length) return std::string_view::npos;
    const char* data = text.data();
    if (name.size() > kShortNameLimit) {
        std::string endTag;
        endTag.reserve(length);
        endTag.append("</").append(name.data(), name.size()).append(">");
        const void* hit = memmem(data + from, text.size() - from, endTag.data(), length);
        if (hit == nullptr) return std::string_view::npos;
        return static_cast<size_t>(static_cast<const char*>(hit) - data);
    }
    const size_t last = text.size() - length;  // the last position it fits
    const size_t gaps[2] = {length - 1, length - 1};
    return ScanEndTagStarts(text.substr(0, last + 2), from, gaps, [&](size_t at) {
        if (data[at + length - 1] != '>') return false;
        // Short names mostly differ early: a loop beats a call to memcmp.
        for (size_t i = 0; i < name.size(); ++i) {
            if (data[at + 2 + i] != name[i]) return false;
        }
        return true;
    });
}

}  // namespace xmlscan

#endif  // CIJOBRESULTS_XML_DETAIL_XMLSIMD_H
