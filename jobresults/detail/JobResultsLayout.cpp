#include "jobresults/detail/JobResultsLayout.h"

#include <string>

#include "xml/detail/XmlScan.h"

namespace jobresults {
namespace {

constexpr std::string_view kFormatNames[] = {
    kRootTag, kRecordTag, kClientNameTag, kUrlTag, kBackupJobIdTag, kErrorStringTag, kSizeTag};

using xmlscan::StartsWith;

// The length of the format tag that begins at text's "<", or 0.
size_t FormatTagLength(std::string_view text) {
    const bool endTag = text.size() > 1 && text[1] == '/';
    const size_t nameAt = endTag ? 2 : 1;
    for (const std::string_view name : kFormatNames) {
        const std::string_view rest = text.substr(nameAt);
        if (!StartsWith(rest, name)) continue;
        const std::string_view after = rest.substr(name.size());
        if (StartsWith(after, ">")) return nameAt + name.size() + 1;
        if (!endTag && StartsWith(after, " />")) return nameAt + name.size() + 3;
    }
    return 0;
}

// Whether text begins with the first k bytes of fresh followed by the rest
// of stale, for a k that keeps neither whole. fresh and stale have the same
// length.
bool IsMixture(std::string_view text, std::string_view fresh, std::string_view stale,
               size_t limit) {
    if (text.size() < fresh.size()) return false;
    const std::string_view head = text.substr(0, fresh.size());
    if (head == fresh || head == stale) return false;
    for (size_t k = 1; k < limit; ++k) {
        if (head.substr(0, k) == fresh.substr(0, k) && head.substr(k) == stale.substr(k)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string_view FormatTagIn(std::string_view value) {
    for (size_t lt = xmlscan::FindByte(value, '<', 0); lt != std::string_view::npos;
         lt = xmlscan::FindByte(value, '<', lt + 1)) {
        if (const size_t length = FormatTagLength(value.substr(lt)))
            return value.substr(lt, length);
    }
    return std::string_view();
}

bool IsTornAppend(std::string_view atTrailer) {
    // The record's first bytes up to its first field's "<".
    const std::string fresh = "<" + std::string(kRecordTag) + ">\n<";
    for (const Lead& lead : kLeads) {
        const std::string stale =
            std::string(kTrailer) + "<" + std::string(lead.filler) + fresh.substr(lead.split);
        if (IsMixture(atTrailer, fresh, stale, lead.split)) return true;
    }
    return false;
}

static_assert(kFinishHead.size() + 2 == kFinalEndTag.size() &&
                  kFinalEndTag.substr(kFinishHead.size()) == kFinishTail.substr(0, 2),
              "the final end tag is the head and the first two bytes of the tail");

bool IsTornSave(std::string_view atTrailer) {
    static_assert(kFinishHead.size() == kTrailer.size(), "the head overwrites the trailer");
    static_assert(kTrailer.size() + kFinishTail.size() == kTornStateLength, "a save's bytes");
    if (atTrailer.size() < kTornStateLength ||
        atTrailer.substr(kTrailer.size(), kFinishTail.size()) != kFinishTail) {
        return false;
    }
    return IsMixture(atTrailer.substr(0, kTrailer.size()), kFinishHead, kTrailer, kTrailer.size());
}

}  // namespace jobresults

namespace jobresults {

bool IsTornWriteAt(std::string_view fromOpen) {
    if (IsTornAppend(fromOpen)) return true;
    const std::string_view lineBreaks = kFinishHead.substr(0, 2);
    std::string atTrailer(lineBreaks);
    atTrailer.append(fromOpen.substr(0, kTornStateLength - lineBreaks.size()));
    return IsTornSave(atTrailer);
}

}  // namespace jobresults
