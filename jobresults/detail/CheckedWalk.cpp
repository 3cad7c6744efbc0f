// CheckedWalk: the walk's first finding that is not a
// sound record decides the verdict.
#include "jobresults/detail/CheckedWalk.h"

namespace jobresults {

bool CheckedWalk::Next(JobResults& record) {
    if (m_done) return false;
    const LayoutItem& item = m_walk.Next(record);
    if (item.kind != LayoutItem::Kind::kRecord) {
        Conclude(item);
        return false;
    }
    ++m_check.records;
    m_recordStart = m_window.FileOffset(item.offset);
    m_recordEnd = m_window.FileOffset(item.offset + item.tagLength);
    return true;
}

void CheckedWalk::Conclude(const LayoutItem& item) {
    m_done = true;
    m_check.ending = item.ending;
    switch (item.kind) {
        case LayoutItem::Kind::kFailed:
            m_check.error = item.error;
            return;
        case LayoutItem::Kind::kDamage:
            m_check.damage = DamageKind::kStray;
            break;
        case LayoutItem::Kind::kEnd:
            if (item.ending != FileEnding::kCut) return;
            m_check.damage = DamageKind::kCut;
            break;
        case LayoutItem::Kind::kRecord:
            return;
    }
    m_check.ending = FileEnding::kCut;
    m_check.damageOffset = m_window.FileOffset(item.offset);
    m_check.damageLength = item.length;
}

}  // namespace jobresults
