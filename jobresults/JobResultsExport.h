// The marks of what the shared library exports. The library is built with
// hidden visibility, so nothing else of it is visible to callers.
#ifndef CIJOBRESULTS_JOBRESULTS_JOBRESULTSEXPORT_H
#define CIJOBRESULTS_JOBRESULTS_JOBRESULTSEXPORT_H

#ifndef CIJOBRESULTS_API
#define CIJOBRESULTS_API __attribute__((visibility("default")))
#endif
// Marks private helpers of exported classes that stay inside the library.
#ifndef CIJOBRESULTS_LOCAL
#define CIJOBRESULTS_LOCAL __attribute__((visibility("hidden")))
#endif

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSEXPORT_H
