// Reading a job results document: the children of its single Root element,
// one after another through a window on the file, and the fields of one
// record. Both readers walk the file with the same cursor: CCIJobResults
// collects every child as a node, JobResultsReader fills one record at a
// time.
//
// The result is the same as cutting the text level by level with the flat
// element scanner, but the Root content is cut in the same pass that finds
// Root's end tag, without copying the content first.
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_ROOTCURSOR_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_ROOTCURSOR_H

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "jobresults/JobResultsRecord.h"
#include "jobresults/detail/FileWindow.h"
#include "xml/XmlNode.h"

namespace jobresults {

// What ReadRootChildren returns for content that is not a single Root.
constexpr int kInvalidContent = -1;

// Walks the children of the document's Root element front to back. Every
// verdict on the document (Root ended, text ended too early, no Root) is
// taken only when the bytes it rests on read the same a second time: a
// writer appending to the file may rewrite its last bytes while they are
// read, and the cursor then goes on from behind the last complete child.
class RootCursor {
public:
    enum class Step {
        kChild,    // Root's start was found, or a record was filled
        kEnd,      // Root ended and nothing but markup without elements follows
        kInvalid,  // not a single Root element
        kDamaged,  // inside Root, an element not closed or a torn record
        kFailed,   // a read failed: Error() holds its errno
    };

    // The window reads the file from its start.
    explicit RootCursor(FileWindow& window) : m_window(window) {}

    // Reads up to the end of Root's start tag: kChild, or the verdict.
    Step FindRoot();

    // Appends Root's remaining children to nodes, then gives the verdict.
    Step CollectChildren(std::vector<XmlNode>& nodes);

    // Fills record from the next child named JobResult, passing over other
    // children, as getNextJobResult does: kChild, or the verdict.
    Step NextRecord(JobResults& record);

    int Error() const { return m_error; }
    // Whether the last child cut was a record (the classic reader ends with
    // 0 on such a child, and with -1 when another child follows it).
    bool LastChildIsRecord() const { return m_lastIsRecord; }
    // For a reader that resumes behind a record: that record was the last
    // child cut.
    void ResumeBehindRecord() { m_lastIsRecord = true; }
    // The file offset behind the last record cut, behind Root's start tag
    // before the first record, 0 before that.
    std::uint64_t RecordEnd() const { return m_recordEnd; }
    // The file offset of the "<" that starts the last record cut, 0 before.
    std::uint64_t RecordStart() const { return m_recordStart; }

private:
    enum class Phase { kHead, kContent, kTail, kDone };

    template <class Visit>
    Step Walk(Visit&& visit);
    template <class Visit>
    void Children(Visit& visit, bool& paused);
    void Head();
    bool EndContent(std::string_view text, size_t stop, size_t gapFrom);
    void Tail();
    // Takes verdict when the bytes it rests on read the same again; false
    // when they changed and the walk goes on.
    bool Settle(Step verdict);
    void Fail(int error);
    int PassOverLongChild(size_t gapFrom);
    int PassOverElement(std::uint64_t start, std::uint64_t stop);
    int PassOverUnclosed(std::uint64_t start, std::uint64_t stop);
    int PassOverBytes(std::uint64_t start, std::uint64_t end);
    int FormatTagAhead(std::uint64_t from, std::uint64_t to, bool& found) const;
    int ElementAhead(std::uint64_t from, bool& found);

    FileWindow& m_window;
    Phase m_phase = Phase::kHead;
    Step m_verdict = Step::kChild;
    // In the window: where the next child is looked for, and in the tail
    // phase where the text behind Root begins.
    size_t m_pos = 0;
    size_t m_tail = 0;
    bool m_selfClosing = false;
    // Root's content holds an element that is not closed; a record that
    // holds one was met (it stays met when the walk goes on again).
    bool m_damaged = false;
    bool m_tornRecord = false;
    // Root's content holds what no writer leaves there, a NUL byte or what
    // is left of a record whose own tags were damaged (IsRecordRemains); no
    // child is delivered from there on.
    bool m_strayContent = false;
    // When records alone are wanted, a child that would make the window
    // hold more than its HoldLimit() is looked for in the file instead of held:
    // only a record is held whole (m_holdWhole until it is cut), and an
    // element not closed is found without holding it (m_unclosed).
    bool m_recordsOnly = false;
    bool m_holdWhole = false;
    bool m_unclosed = false;
    // Root's end tag in the file, once looked for; the file's end when
    // there is none.
    std::uint64_t m_rootEnd = FileWindow::kNotFound;
    std::uint64_t m_fileEnd = 0;
    bool m_lastIsRecord = false;
    std::uint64_t m_recordStart = 0;
    std::uint64_t m_recordEnd = 0;
    int m_error = 0;
};

// Reads the rest of the file through the window and cuts it as a job
// results document: exactly one top-level element, named Root, whose child
// elements go to children in order. Returns 0, kInvalidContent, or the
// errno of a failed read; children is untouched unless 0 is returned. The
// children are cut while the file is read: the window holds a block or two,
// or one element when that is larger. Where Root's content is damaged, the
// children in front of the damage are followed by one node with an empty
// tag name and no content: no record, so that the classic reader stops
// there with its message for a list that holds no further record.
int ReadRootChildren(FileWindow& window, std::vector<XmlNode>& children);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_ROOTCURSOR_H
