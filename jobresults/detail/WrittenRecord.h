// A record exactly as the writer composes it (ComposedAppend): the walk
// over the writer's layout reads records so, and a torn append is accepted
// only when the rest of its write is such a record.
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_WRITTENRECORD_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_WRITTENRECORD_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "jobresults/JobResultsRecord.h"
#include "xml/detail/XmlScan.h"

namespace jobresults {

enum class LayoutMatch { kYes, kNo, kMore };

// Reads the writer's layout from text at `at`; kMore when the text held
// ends before the bytes can be judged and more of the file follows.
struct LayoutCursor {
    std::string_view text;
    size_t at;
    bool atEnd;

    // Inline, and compared a word at a time: the walk takes a dozen short
    // literals a record, for which a call to memcmp costs more than the
    // comparison.
    LayoutMatch Take(std::string_view literal) {
        const size_t held = text.size() - at;
        if (held < literal.size()) {
            return !atEnd && SameBytes(text.data() + at, literal.data(), held) ? LayoutMatch::kMore
                                                                               : LayoutMatch::kNo;
        }
        if (!SameBytes(text.data() + at, literal.data(), literal.size())) return LayoutMatch::kNo;
        at += literal.size();
        return LayoutMatch::kYes;
    }

    // Overlapping loads cover any length from 4 bytes on without a loop
    // over single bytes.
    static bool SameBytes(const char* a, const char* b, size_t count) {
        if (count < 4) {
            for (size_t i = 0; i < count; ++i) {
                if (a[i] != b[i]) return false;
            }
            return true;
        }
        if (count < 8) {
            return Load<std::uint32_t>(a) == Load<std::uint32_t>(b) &&
                   Load<std::uint32_t>(a + count - 4) == Load<std::uint32_t>(b + count - 4);
        }
        for (size_t i = 0; i + 8 < count; i += 8) {
            if (Load<std::uint64_t>(a + i) != Load<std::uint64_t>(b + i)) return false;
        }
        return Load<std::uint64_t>(a + count - 8) == Load<std::uint64_t>(b + count - 8);
    }

    template <class Word>
    static Word Load(const char* bytes) {
        Word word;
        std::memcpy(&word, bytes, sizeof word);
        return word;
    }
};

// A record from cursor.at exactly as the writer composes it, its fields
// to record (each value as the readers give it), the cursor behind it. Its
// final line break may be missing when what follows is damage: its fields
// are whole all the same. The record is filled only when the whole is found.
LayoutMatch TakeWrittenRecord(LayoutCursor& cursor, JobResults& record);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_WRITTENRECORD_H
