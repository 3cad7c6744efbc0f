// A file read from its start and judged as check judges it (the strict
// reading). metrics reads a file so when it is new, when it changed other
// than by growing, and when its turn to be verified comes; memory stays
// that of the streaming reader, whatever the size of the file.
#ifndef JRTOOL_WHOLEFILEREADING_H
#define JRTOOL_WHOLEFILEREADING_H

#include "jrtool/Progress.h"

namespace jrtool {

// Reads `file` from its start. The records in front of the progress's point
// were counted by a run before: they are passed over once the point's
// fingerprint shows the bytes in front of it unchanged, and `visit` gets
// the records behind it. Otherwise (the file is damaged in front of the
// point, rewritten or replaced) the reading stops with `replaced` set, as
// the counts hold records the file no longer has. A damaged file gets
// check's verdict as its problem, unless it changed while it was read: a
// writer at work, read on by the next change. On a failed system call the
// progress stays and the problem says why.
ReadOutcome ReadWholeFile(const jobresults::ResultsFile& file, FileProgress& progress,
                          const RecordVisitor& visit);

}  // namespace jrtool

#endif
