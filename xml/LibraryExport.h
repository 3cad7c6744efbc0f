// The marks of what the shared library exports, for both of its halves:
// here, at the bottom, so that the XML toolkit needs nothing of the store
// above it. The library is built with hidden visibility, so nothing else of
// it is visible to callers.
#ifndef CIJOBRESULTS_XML_LIBRARYEXPORT_H
#define CIJOBRESULTS_XML_LIBRARYEXPORT_H

#ifndef CIJOBRESULTS_API
#define CIJOBRESULTS_API __attribute__((visibility("default")))
#endif
// Marks private helpers of exported classes that stay inside the library.
#ifndef CIJOBRESULTS_LOCAL
#define CIJOBRESULTS_LOCAL __attribute__((visibility("hidden")))
#endif

#endif  // CIJOBRESULTS_XML_LIBRARYEXPORT_H
