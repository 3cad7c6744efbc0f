// The workloads besides reading: appending records (ours, the system-call
// floor, SQLite), the flat scan of a large text, and building and printing
// a tree (ours and pugixml).
#ifndef CIJOBRESULTS_BENCH_WORKLOADS_H
#define CIJOBRESULTS_BENCH_WORKLOADS_H

#include <cstdint>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "jobresults/cijobresults.h"
#include "xml/XmlNode.h"

namespace bench {

// --- append -------------------------------------------------------------

std::vector<JobResults> MakeRecords(std::uint64_t count);

// The floor's input: every record's text followed by the trailer, back to
// back, with the header in front of the first.
struct PreparedAppends {
    std::string bytes;
    std::vector<std::size_t> ends;  // end of record i's slice in bytes
};
PreparedAppends PrepareAppends(const std::vector<JobResults>& records);

// Appends every record with CCIJobResults into a new file inside the empty
// directory `dir`, saves it, and returns the file's path in `path`.
bool AppendOurs(const std::string& dir, const std::vector<JobResults>& records, std::string& path,
                std::string& error);
// One write of the prepared bytes and one lseek of -7 per record, then the
// final end tag.
bool AppendFloor(const std::string& path, const PreparedAppends& prepared, std::string& error);
// One autocommit INSERT per record into a fresh database (WAL, with the
// given synchronous setting: NORMAL or FULL).
bool AppendSqlite(const std::string& path, const std::vector<JobResults>& records,
                  std::string& error, const std::string& synchronous = "NORMAL");
// Removes a database and its WAL and shared-memory files.
void RemoveSqlite(const std::string& path);

// --- flat scan ----------------------------------------------------------

// The content of a Root element: JobResult records until `bytes` is reached.
std::string ScanText(std::size_t bytes, std::uint64_t& records);
// Elements GetXMLNodeList finds at the top level of `text`; `nodes` is
// the caller's list, reused from scan to scan as a caller would.
std::size_t ScanOurs(const std::string& text, std::vector<XmlNode>& nodes);
// One memchr pass over the text that finds every "<".
std::size_t ScanFloor(const std::string& text);

// --- tree ---------------------------------------------------------------

// A document of moderate depth (five levels below the root element
// "Backups"), about `bytes` long, indented with three blanks per level.
// `content` is what lies between the root's tags; `document` the whole.
struct TreeDocument {
    std::string content;
    std::string document;
};
TreeDocument MakeTreeDocument(std::size_t bytes);

XmlParsedNode BuildOurs(const TreeDocument& doc);
std::size_t CountElements(const XmlParsedNode& node);
// The tree printed with three blanks per level, without a declaration.
bool BuildPugixml(const TreeDocument& doc, pugi::xml_document& document);
std::size_t CountElements(pugi::xml_node node);
std::string RenderPugixml(const pugi::xml_document& document);

}  // namespace bench

#endif  // CIJOBRESULTS_BENCH_WORKLOADS_H
