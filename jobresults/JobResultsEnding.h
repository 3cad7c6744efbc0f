// How a job results file ends: the one answer every reader, the walk over
// the writer's layout, the check of a file and the listing give.
#ifndef CIJOBRESULTS_JOBRESULTS_JOBRESULTSENDING_H
#define CIJOBRESULTS_JOBRESULTS_JOBRESULTSENDING_H

namespace jobresults {

enum class FileEnding {
    kSaved,    // the final end tag of a save
    kOpen,     // the trailer of an append: its writer may append more
    kWriting,  // an append or save under way, or cut short by a kill
    kCut,      // the file stops where a record or an end tag should follow
    // The listing judges a file from its last bytes alone, and so cannot
    // tell an append under way from a file cut or damaged: it gives this
    // for both (the check of a file tells them apart).
    kNeither = kWriting,
};

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSENDING_H
