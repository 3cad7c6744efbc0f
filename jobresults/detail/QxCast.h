// Integer widening for the printf family.
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_QXCAST_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_QXCAST_H

namespace qxcast {
// Widens an integer (such as a time_t) to long long, the type of the
// seconds in a file's name.
template <typename T>
inline long long lld(T value) {
    return static_cast<long long>(value);
}
}  // namespace qxcast

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_QXCAST_H
