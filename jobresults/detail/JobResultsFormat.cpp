// Records are composed straight into one buffer of the exact size: the
// lengths are summed first, then every piece is copied once.
#include "jobresults/detail/JobResultsFormat.h"

#include <charconv>
#include <cstring>

namespace jobresults {
namespace {

constexpr std::string_view kLargestSize = "18446744073709551615";
constexpr size_t kMaxDigits = kLargestSize.size();

// Bytes of an element besides its tag name (twice) and content: "<", ">\n",
// "</", ">\n".
constexpr size_t kElementMarkup = 7;
// Bytes of an element with empty content besides its tag name: "<", " />\n".
constexpr size_t kEmptyElementMarkup = 5;

// An element with content has its start tag and end tag on lines of their
// own; a content that already ends with a newline gets no second one.
size_t ElementLength(std::string_view tag, std::string_view content) {
    if (content.empty()) return tag.size() + kEmptyElementMarkup;
    const size_t newline = content.back() == '\n' ? 0 : 1;
    return 2 * tag.size() + content.size() + newline + kElementMarkup;
}

char* Put(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

char* PutElement(char* out, std::string_view tag, std::string_view content) {
    *out++ = '<';
    out = Put(out, tag);
    if (content.empty()) return Put(out, " />\n");
    out = Put(out, ">\n");
    out = Put(out, content);
    if (content.back() != '\n') *out++ = '\n';
    out = Put(out, "</");
    out = Put(out, tag);
    return Put(out, ">\n");
}

}  // namespace

bool ReadWrittenSize(std::string_view content, unsigned long long& size) {
    if (content.size() < 3 || content.front() != '\n' || content.back() != '\n') return false;
    const std::string_view digits = content.substr(1, content.size() - 2);
    // to_chars writes no sign and no leading zero; only 20 digits can pass
    // the largest value.
    if (digits.size() > kMaxDigits || (digits.front() == '0' && digits.size() > 1) ||
        (digits.size() == kMaxDigits && digits > kLargestSize)) {
        return false;
    }
    unsigned long long value = 0;
    for (const char c : digits) {
        const unsigned digit = static_cast<unsigned char>(c) - unsigned{'0'};
        if (digit > 9) return false;
        value = value * 10 + digit;
    }
    size = value;
    return true;
}

namespace {

// The fields' values as they are written: a number field's as its shortest
// digits, which ReadWrittenSize reads back.
struct FieldValues {
    std::string_view text[kRecordFieldCount];
    char digits[kRecordFieldCount][kMaxDigits];

    explicit FieldValues(const JobResults& result) {
        for (size_t i = 0; i < kRecordFieldCount; ++i) {
            const RecordField& field = kRecordFields[i];
            if (field.kind == FieldKind::kText) {
                text[i] = result.*field.text;
                continue;
            }
            char* const end =
                std::to_chars(digits[i], digits[i] + kMaxDigits, result.*field.number).ptr;
            text[i] = std::string_view(digits[i], static_cast<size_t>(end - digits[i]));
        }
    }
};

}  // namespace

ComposedAppend::ComposedAppend(const JobResults& result, bool withHeader) {
    const FieldValues values(result);
    // The record's content is never empty and always ends with a newline,
    // so the record is its start tag line, the fields and its end tag line.
    m_size = (withHeader ? kHeader.size() : 0) + 2 * kRecordTag.size() + kElementMarkup +
             kTrailer.size();
    for (size_t i = 0; i < kRecordFieldCount; ++i) {
        m_size += ElementLength(kRecordFields[i].tag, values.text[i]);
    }
    if (m_size > kInlineSize) {
        m_large.reset(new char[m_size]);
        m_data = m_large.get();
    }
    char* out = m_data;
    if (withHeader) out = Put(out, kHeader);
    *out++ = '<';
    out = Put(out, kRecordTag);
    out = Put(out, ">\n");
    for (size_t i = 0; i < kRecordFieldCount; ++i) {
        out = PutElement(out, kRecordFields[i].tag, values.text[i]);
    }
    out = Put(out, "</");
    out = Put(out, kRecordTag);
    out = Put(out, ">\n");
    Put(out, kTrailer);
}

std::string CreationPath(const std::string& dirName, const std::string& baseName,
                         long long seconds) {
    return JoinResultsPath(dirName, ResultsFileName(std::to_string(seconds), baseName));
}

}  // namespace jobresults
