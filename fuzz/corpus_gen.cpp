// Writes the seed corpora of the fuzz targets into <out>/<target>/: job
// results files written by the store itself (saved, unsaved, truncated,
// altered), the texts the reader cuts out of them, the tag texts and trees
// of the toolkit's documented examples, and record sets for the round trip.
//
// Usage: fuzz_corpus_gen OUT_DIR   (fuzz/make_corpus runs it)
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "job_files.h"
#include "jobresults/cijobresults.h"
#include "jobresults/detail/JobResultsFormat.h"
#include "record_codec.h"
#include "tests/support/reference.h"
#include "tests/support/repeat.h"
#include "xml/XmlNode.h"

namespace {

std::string g_outDir;
int g_failures = 0;

void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
    const std::string dir = g_outDir + "/" + target;
    mkdir(dir.c_str(), 0755);
    if (!jobfiles::WriteWholeFile(dir + "/" + name, bytes)) {
        std::fprintf(stderr, "cannot write %s/%s\n", dir.c_str(), name.c_str());
        ++g_failures;
    }
}

using testsupport::MakeRecord;

struct WrittenFile {
    std::string unsaved;  // after the last append, before the save
    std::string saved;
};

// Writes the records with the store and returns the file at both moments.
bool WriteWithStore(const jobfiles::TempDir& tmp, const std::vector<JobResults>& records,
                    WrittenFile& file) {
    tmp.Clear();
    CCIJobResults writer;
    if (writer.createJobResults(tmp.StoreDir()) != 1) return false;
    for (const JobResults& record : records) {
        if (writer.addJobResult(record) != 1) return false;
    }
    const std::vector<std::string> names = tmp.StoreFiles();
    if (names.size() != 1) return false;
    const std::string path = tmp.StorePath(names[0]);
    file.unsaved = jobfiles::ReadWholeFile(path);
    if (writer.saveJobResults() != 1) return false;
    file.saved = jobfiles::ReadWholeFile(path);
    tmp.Clear();
    return !file.unsaved.empty() && !file.saved.empty();
}

// The single element a text holds at its top level, or an empty content.
std::string OnlyContent(const std::string& text) {
    std::vector<XmlNode> nodes;
    XmlNode::GetXMLNodeList(text, nodes);
    return nodes.empty() ? std::string() : nodes[0].GetNodeContent();
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

const std::string kNul(1, '\0');

using jobresults::kFinalEndTag;
using jobresults::kRootTag;
using jobresults::kTrailer;

std::string StartTag(std::string_view name) {
    return XmlNode::OutputXMLTagString(std::string(name), true, false);
}
std::string EndTag(std::string_view name) {
    return XmlNode::OutputXMLTagString(std::string(name), false, false);
}

void XmlSeeds(const std::string& jobFile) {
    const std::string rootContent = OnlyContent(jobFile);
    const std::string recordContent = OnlyContent(rootContent);

    Seed("scanner", "job-file.xml", jobFile);
    Seed("scanner", "root-content.xml", rootContent);
    Seed("scanner", "lookup-jobresult", std::string(jobresults::kRecordTag) + kNul + rootContent);
    Seed("scanner", "lookup-size", std::string(jobresults::kSizeTag) + kNul + recordContent);
    Seed("scanner", "mixed", "x<a k='1'><b/>t</a> y <c/>");
    Seed("scanner", "nested-same-name", "<a><a>x</a></a>");
    Seed("scanner", "missing-end", "<a>1</a><b>2");
    Seed("scanner", "no-close", "text <a");
    Seed("scanner", "comment", "<!-- a > b --><a k='1>2'>x</a><>");
    Seed("scanner", "lookup-repeats", "a" + kNul + "<a/><b>1</b><a >2</a><a/ ></a/>");
    Seed("scanner", "name-with-lt", "<a<b k='1'>x</a<b><c>y</c>");

    Seed("tag", "blanks", "  Item  id='7'  " + kNul + "  x ");
    Seed("tag", "two-quotes", "a b = \"1\"   c='2'");
    Seed("tag", "unquoted", "a b=1 c=\"2\"");
    Seed("tag", "unterminated", "a b='1' c=\"2");
    Seed("tag", "repeated", "a b=\"x\" b='y'" + kNul + "a\n");
    Seed("tag", "tabs", "a\tb=\"1\" c=\t'2'");
    Seed("tag", "junk-names", "a junk b=\"1\" =\"2\" href='x=y'");
    Seed("tag", "nested-quote", "Item id=\"7\" note='say \"hi\"'" + kNul + "x");
    Seed("tag", "apostrophe", "Item note=\"it's\"" + kNul + "a<b&c");
    Seed("tag", "self-closing", "ClientName /");
    Seed("tag", "field", "Size" + kNul + "42");

    const std::string example = "<Item id='7'><Name>alpha</Name><Count>42</Count><Flag/></Item>";
    Seed("tree", "example", "Root" + kNul + example);
    XmlParsedNode exampleTree("Root", example);
    exampleTree.UpdateNodeContent();
    Seed("tree", "example-updated", "Root" + kNul + exampleTree.GetNodeContent());
    Seed("tree", "rendered", "Doc" + kNul + exampleTree.OutputXMLNodeString());
    Seed("tree", "siblings", "<A>1</A><B/>");
    Seed("tree", "outside-text", "  x<b>1</b>y  ");
    Seed("tree", "stray-end", "</x><a>1</a>");
    Seed("tree", "attributes", "E a='x' b=\"y\"" + kNul + "<E a='x' b=\"y\"><F c='1'/></E>");
    Seed("tree", "job-root", std::string(kRootTag) + kNul + rootContent);
    // Nested documents with distinct names at each level. Past the tree's
    // depth limit only for the scanner: UpdateNodeContent's text grows with
    // the cube of the depth, and one such seed slows the tree target tenfold
    // (the unit tests cover the limit).
    Seed("tree", "nested", testsupport::NestedElements(40));
    Seed("scanner", "deep", testsupport::NestedElements(XmlParsedNode::kMaxParseDepth + 14));
}

void ReaderSeeds(const std::vector<WrittenFile>& files) {
    for (size_t i = 0; i < files.size(); ++i) {
        Seed("reader", "saved-" + std::to_string(i) + ".xml", files[i].saved);
        Seed("reader", "unsaved-" + std::to_string(i) + ".xml", files[i].unsaved);
    }
    const std::string& saved = files[0].saved;
    const std::string rootStart = StartTag(kRootTag), rootEnd = EndTag(kRootTag);
    const size_t firstRecord = saved.find(StartTag(jobresults::kRecordTag));
    const std::string sizeStart = StartTag(jobresults::kSizeTag);
    const std::string urlStart = StartTag(jobresults::kUrlTag);
    Seed("reader", "cut-header.xml", saved.substr(0, firstRecord));
    Seed("reader", "cut-record.xml", saved.substr(0, saved.find(EndTag(jobresults::kUrlTag))));
    Seed("reader", "cut-end-tag.xml", saved.substr(0, saved.size() - 1));
    Seed("reader", "empty-root.xml", saved.substr(0, firstRecord) + std::string(kTrailer));
    Seed("reader", "two-roots.xml", saved + rootStart + rootEnd);
    Seed("reader", "wrong-root.xml",
         Replace(Replace(saved, rootStart, "<Rot>"), rootEnd, "</Rot>"));
    Seed("reader", "odd-fields.xml",
         Replace(Replace(saved, sizeStart + "\n4096", sizeStart + "\nabc"), urlStart,
                 "<Extra/>" + urlStart));
    Seed("reader", "trailing-non-record.xml",
         Replace(saved, std::string(kFinalEndTag), "<Note>x</Note>\n" + std::string(kTrailer)));
    Seed("reader", "nul-inside.xml", Replace(saved, "alpha", "al" + kNul + "pha"));
    // An element whose end tag holds Root's end tag: Root's content ends inside it.
    const std::string hiding = "<a</" + std::string(kRootTag);
    Seed("reader", "end-tag-hides-root.xml",
         Replace(saved, std::string(kFinalEndTag),
                 hiding + " k='1'>x</a" + rootEnd + "\n" + std::string(kTrailer)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
        return 2;
    }
    g_outDir = argv[1];
    jobfiles::TempDir tmp;
    if (!tmp.Ok()) {
        std::perror("mkdtemp");
        return 1;
    }

    const std::vector<std::vector<JobResults>> sets = {
        {MakeRecord("alpha", "/jobs/1001", "1001", "", 4096),
         MakeRecord("beta", "/jobs/1002", "1002", "disk full", 0)},
        {MakeRecord("  client one\t", "https://ci.example/job?id=7&x=1", "77",
                    "timeout after 30 s\n", 18446744073709551615ull)},
        {MakeRecord("", "", "", "", 0), MakeRecord("a>b", "&amp;", "\r\n", "line one\nline two", 1),
         MakeRecord("gamma", "/jobs/3", "3", "'quoted' \"both\"", 123456789)},
    };
    std::vector<WrittenFile> files;
    for (const std::vector<JobResults>& records : sets) {
        WrittenFile file;
        if (!WriteWithStore(tmp, records, file)) {
            std::fprintf(stderr, "the store could not write a seed file\n");
            return 1;
        }
        files.push_back(file);
    }

    XmlSeeds(files[0].saved);
    ReaderSeeds(files);
    for (size_t i = 0; i < sets.size(); ++i) {
        Seed("roundtrip", "set-" + std::to_string(i) + "-saved",
             recordcodec::Encode(recordcodec::kFlagSave, sets[i]));
        Seed("roundtrip", "set-" + std::to_string(i) + "-unsaved", recordcodec::Encode(0, sets[i]));
    }
    Seed("roundtrip", "no-records", recordcodec::Encode(recordcodec::kFlagSave, {}));
    return g_failures == 0 ? 0 : 1;
}
