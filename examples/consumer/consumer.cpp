// Writes a job results file with a few records, reads it back with both
// readers (CCIJobResults and the streaming JobResultsReader) and checks that
// every field survived. Also cuts a small XML text with the node
// toolkit. Exits 0 when all is well, 1 with a message otherwise.
//
//   consumer [work directory]   (default: a new directory under /tmp)
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "jobresults/JobResultsReader.h"
#include "jobresults/cijobresults.h"
#include "xml/XmlNode.h"

namespace fs = std::filesystem;

namespace {

std::vector<JobResults> sampleResults() {
    std::vector<JobResults> results(3);
    results[0] = {"client-a", "https://backup.example/a", "job-17", "", 1048576ULL};
    results[1] = {"client-b", "https://backup.example/b?x=1&y=2", "job-18", "disk full", 0ULL};
    results[2] = {"client-c", "file:///srv/c", "job-19", "", 18446744073709551615ULL};
    return results;
}

bool sameResult(const JobResults& a, const JobResults& b) {
    return a.ClientName == b.ClientName && a.Url == b.Url && a.BackupJobId == b.BackupJobId &&
           a.ErrorString == b.ErrorString && a.Size == b.Size;
}

bool fail(const std::string& sWhat, const CCIJobResults& store) {
    std::cerr << "consumer: " << sWhat << ": " << store.m_sErrorMsg << " (errno " << store.m_nErrno
              << ")\n";
    return false;
}

// The store names its file  <dir>\ci_push_<seconds>.xml : on POSIX the
// backslash is part of the name, so the file lies next to <dir>.
std::string findWrittenFile(const fs::path& parent, const std::string& sDirLeaf) {
    const std::string prefix = sDirLeaf + "\\";
    for (const auto& entry : fs::directory_iterator(parent)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) == 0) {
            return name.substr(prefix.size());
        }
    }
    return "";
}

bool writeResults(const std::string& sDirName, const std::vector<JobResults>& results) {
    CCIJobResults writer;
    if (writer.createJobResults(sDirName) != 1) return fail("createJobResults", writer);
    for (const JobResults& result : results) {
        if (writer.addJobResult(result) != 1) return fail("addJobResult", writer);
    }
    if (writer.saveJobResults() != 1) return fail("saveJobResults", writer);
    return true;
}

bool readResults(const std::string& sDirName, const std::string& sFileName,
                 std::vector<JobResults>& results) {
    CCIJobResults reader;
    if (reader.openJobResults(sDirName, sFileName) != 1) {
        return fail("openJobResults " + sFileName, reader);
    }
    for (;;) {
        JobResults result;
        const int nStatus = reader.getNextJobResult(result);
        if (nStatus == -1) return fail("getNextJobResult", reader);
        results.push_back(result);
        if (nStatus == 0) return true;
    }
}

// The streaming reader holds one record at a time, whatever the file's size.
bool streamResults(const std::string& sDirName, const std::string& sFileName,
                   std::vector<JobResults>& results) {
    JobResultsReader reader;
    if (reader.open(sDirName, sFileName)) {
        for (JobResults result; reader.next(result); result = JobResults()) {
            results.push_back(result);
        }
    }
    if (reader.ok()) return true;
    std::cerr << "consumer: JobResultsReader on " << sFileName << ": " << reader.errorMessage()
              << " (errno " << reader.errorNumber() << ")\n";
    return false;
}

bool sameResults(const std::vector<JobResults>& read, const std::vector<JobResults>& written,
                 const char* sReader) {
    if (read.size() != written.size()) {
        std::cerr << "consumer: wrote " << written.size() << " records, " << sReader << " read "
                  << read.size() << "\n";
        return false;
    }
    for (size_t i = 0; i < written.size(); ++i) {
        if (!sameResult(read[i], written[i])) {
            std::cerr << "consumer: record " << i << " differs after reading back with " << sReader
                      << "\n";
            return false;
        }
    }
    return true;
}

bool roundTrip(const fs::path& workDir) {
    const std::vector<JobResults> written = sampleResults();
    const std::string sDirName = (workDir / "results").string();
    if (!writeResults(sDirName, written)) return false;

    const std::string sFileName = findWrittenFile(workDir, "results");
    if (sFileName.empty()) {
        std::cerr << "consumer: no job results file in " << workDir << "\n";
        return false;
    }
    std::vector<JobResults> read;
    std::vector<JobResults> streamed;
    if (!readResults(sDirName, sFileName, read) || !sameResults(read, written, "CCIJobResults") ||
        !streamResults(sDirName, sFileName, streamed) ||
        !sameResults(streamed, written, "JobResultsReader")) {
        return false;
    }
    std::cout << "consumer: " << read.size() << " job results written to and read from "
              << sFileName << " with both readers\n";
    return true;
}

bool scanXml() {
    std::vector<XmlNode> nodes;
    XmlNode::GetXMLNodeList("<First id=\"1\">one</First><Second>two</Second>", nodes);
    if (nodes.size() != 2 || nodes[0].GetTagName() != "First" ||
        nodes[1].GetNodeContent() != "two") {
        std::cerr << "consumer: the XML scanner did not find the two elements\n";
        return false;
    }
    std::string sId;
    nodes[0].getAttributeValue("id", sId);
    if (sId != "1") {
        std::cerr << "consumer: attribute id is \"" << sId << "\", expected \"1\"\n";
        return false;
    }
    return true;
}

fs::path makeWorkDir(int argc, char** argv) {
    if (argc > 1) {
        fs::path dir = argv[1];
        fs::remove_all(dir);
        fs::create_directories(dir);
        return dir;
    }
    std::string pattern = (fs::temp_directory_path() / "consumer-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path workDir = makeWorkDir(argc, argv);
    if (workDir.empty()) {
        std::cerr << "consumer: cannot create a work directory\n";
        return 1;
    }
    const bool bOk = scanXml() && roundTrip(workDir);
    if (bOk && argc <= 1) fs::remove_all(workDir);
    return bOk ? 0 : 1;
}
