// The built library as a binary: its version section, its exported symbols
// and the object layout that existing callers are compiled against.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "jobresults/JobResultsVersion.h"
#include "jobresults/cijobresults.h"
#include "support/scratch.h"
#include "xml/XmlNode.h"

namespace {

const std::string kLibrary = CIJOBRESULTS_LIBRARY_FILE;

// Runs a shell command; returns its standard output, and its exit status in *status.
std::string RunCommand(const std::string& command, int* status) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        *status = -1;
        return output;
    }
    char buffer[4096];
    for (size_t count; (count = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, count);
    *status = pclose(pipe);
    return output;
}

TEST(LibraryBinary, VersionSectionHoldsOneLineAndIsNotLoaded) {
    int status = 0;
    const std::string sections = RunCommand("readelf -S -W '" + kLibrary + "'", &status);
    ASSERT_EQ(status, 0) << sections;
    const size_t at = sections.find(" QxVersion ");
    ASSERT_NE(at, std::string::npos) << sections;
    // Type, address, offset, size, entry size, [flags], link, info, alignment.
    std::istringstream row(sections.substr(at + 11, sections.find('\n', at) - at - 11));
    std::vector<std::string> fields{std::istream_iterator<std::string>(row), {}};
    ASSERT_TRUE(fields.size() == 7 || fields.size() == 8) << sections.substr(at, 120);
    EXPECT_EQ(fields[0], "PROGBITS");
    EXPECT_EQ(std::stoull(fields[1], nullptr, 16), 0u) << "section has a load address";
    const std::string flags = fields.size() == 8 ? fields[5] : "";
    EXPECT_EQ(flags.find('A'), std::string::npos) << "flags " << flags;

    const testsupport::ScratchDir dir;
    const std::string dump = dir.Path() + "/qxversion", copy = dir.Path() + "/qxcopy";
    const std::string output = RunCommand(
        "objcopy --dump-section QxVersion='" + dump + "' '" + kLibrary + "' '" + copy + "' 2>&1",
        &status);
    ASSERT_EQ(status, 0) << output;
    const std::string line = testsupport::ReadWholeFile(dump);
    EXPECT_EQ(jobresults::VersionLine() + std::string("\n"), line);

    std::smatch match;
    ASSERT_TRUE(std::regex_match(
        line, match, std::regex(R"((\d+\.\d+\.\d+) (\d\d)/(\d\d)/\d\d (\d\d):(\d\d):(\d\d)\n)")))
        << "[" << line << "]";
    EXPECT_EQ(match[1], CIJOBRESULTS_VERSION);
    const std::string suffix = ".so." + match[1].str();
    EXPECT_EQ(kLibrary.compare(kLibrary.size() - suffix.size(), suffix.size(), suffix), 0)
        << kLibrary;
    const int month = std::stoi(match[2]), day = std::stoi(match[3]);
    EXPECT_TRUE(month >= 1 && month <= 12 && day >= 1 && day <= 31) << line;
    EXPECT_TRUE(std::stoi(match[4]) < 24 && std::stoi(match[5]) < 60 && std::stoi(match[6]) < 61)
        << line;
}

TEST(LibraryBinary, VersionLineFollowsSourceDateEpoch) {
    const testsupport::ScratchDir dir;
    int status = 0;
    const std::string output = RunCommand(
        "SOURCE_DATE_EPOCH=1700000000 cmake -DPROJECT_VERSION=" CIJOBRESULTS_VERSION
        " -DPROJECT_BINARY_DIR='" +
            dir.Path() + "' -P '" CIJOBRESULTS_SOURCE_DIR "/cmake/VersionSection.cmake' 2>&1",
        &status);
    ASSERT_EQ(status, 0) << output;
    const std::string generated =
        testsupport::ReadWholeFile(dir.Path() + "/generated/version_section.cpp");
    EXPECT_NE(generated.find("\"" CIJOBRESULTS_VERSION " 11/14/23 22:13:20\""), std::string::npos)
        << generated;
}

TEST(LibraryBinary, ExportsOnlyTheExportedClasses) {
    int status = 0;
    const std::string symbols = RunCommand("nm -D --defined-only -C '" + kLibrary + "'", &status);
    ASSERT_EQ(status, 0) << symbols;
    std::vector<std::string> names;
    std::istringstream lines(symbols);
    for (std::string line; std::getline(lines, line);) {
        const size_t type = line.find(' ');  // "<address> <type> <name>"
        if (type != std::string::npos && line.size() > type + 3)
            names.push_back(line.substr(type + 3));
    }
    ASSERT_FALSE(names.empty()) << symbols;

    const std::vector<std::string> classes = {"XmlNode", "XmlParsedNode", "CCIJobResults",
                                              "JobResultsReader", "JobResultsRecovery"};
    for (const std::string& name : names) {
        bool ours = false;
        for (const std::string& cls : classes) {
            ours = ours || name.rfind(cls + "::", 0) == 0 || name == "vtable for " + cls ||
                   name == "typeinfo for " + cls || name == "typeinfo name for " + cls;
        }
        for (const char* function : {"ListResultsFiles(",
                                     "DescribeResultsFile(",
                                     "EndingOfFile(",
                                     "NoteOnDirectoryName(",
                                     "VersionLine(",
                                     "LineOfOffset(",
                                     "ParseSyncLevel(",
                                     "SyncLevelName(",
                                     "CheckResultsFile(",
                                     "StatusChangeNanoseconds(",
                                     "UnchangedSince(",
                                     "ChangeSince(",
                                     "ReadOn(",
                                     "ProgressReading::",
                                     "PickForVerification(",
                                     "SalvageResultsFile(",
                                     "RescueDirName(",
                                     "ListRescueLeftovers(",
                                     "RescueLeftoversOf(",
                                     "SplitWholePath(",
                                     "ParseFileArguments(",
                                     "ParseSingleFileArguments(",
                                     "WithReason(",
                                     "AddJobResultWithReason(",
                                     "FileStateName(",
                                     "ProgressFields[abi:cxx11](",
                                     "ProgressFromFields(",
                                     "PlanReadings(",
                                     "ReplaceFileDurably(",
                                     "CheckReplaceable(",
                                     "WriteFully(",
                                     "KnownEntry(",
                                     "KeepListed(",
                                     "ForgetFileName(",
                                     "FindByInode(",
                                     "LookupIn(",
                                     "WatchResultsFiles(",
                                     "ReadWatchedChanges(",
                                     "TextChecksum(",
                                     "SealText[abi:cxx11](",
                                     "OpenSealedText(",
                                     "KnownFileFields[abi:cxx11](",
                                     "KnownFileFromFields(",
                                     "Succeeded(",
                                     "ClientKey(",
                                     "ClientSummary::",
                                     "AdvanceTotals(",
                                     "ClientSummaryFields[abi:cxx11](",
                                     "ClientSummaryFromFields(",
                                     "RecordTotalsFields[abi:cxx11](",
                                     "RecordTotalsFromFields(",
                                     "DescribeWatchedFiles(",
                                     "MarkDamaged(",
                                     "ReadSealedFile(",
                                     "RecordTotals::",
                                     "FindByName(",
                                     "OverviewOfFiles(",
                                     "ProbeWriter(",
                                     "CloseLeftFile(",
                                     "RemoveSavedFile("}) {
            ours = ours || name.rfind(std::string("jobresults::") + function, 0) == 0;
        }
        EXPECT_TRUE(ours) << "unexpected export: " << name;
    }

    // Linking the tests proves the functions are there; these are not called by name.
    for (const std::string cls : {"XmlNode", "XmlParsedNode"}) {
        for (const std::string& symbol :
             {"vtable for " + cls, "typeinfo for " + cls, "typeinfo name for " + cls}) {
            EXPECT_NE(std::find(names.begin(), names.end(), symbol), names.end())
                << "not exported: " << symbol;
        }
    }
}

TEST(LibraryBinary, LayoutMatchesTheBinaryContract) {
    using Map = std::map<std::string, std::string>;
    static_assert(sizeof(XmlNode) == sizeof(void*) + 3 * sizeof(std::string) + sizeof(Map) +
                                         sizeof(std::vector<std::string>));
    static_assert(sizeof(XmlParsedNode) == sizeof(XmlNode) + sizeof(std::vector<XmlParsedNode>));
    static_assert(std::is_polymorphic<XmlNode>::value &&
                  !std::has_virtual_destructor<XmlNode>::value);
    static_assert(!std::has_virtual_destructor<XmlParsedNode>::value);
    static_assert(!std::is_default_constructible<XmlNode>::value &&
                  !std::is_default_constructible<XmlParsedNode>::value);
    static_assert(std::is_convertible<XmlParsedNode*, XmlNode*>::value);

    XmlParsedNode node("a", "");
    const char* base = reinterpret_cast<const char*>(&node);
    const auto offset = [base](const void* field) {
        return static_cast<size_t>(static_cast<const char*>(field) - base);
    };
    EXPECT_EQ(offset(static_cast<XmlNode*>(&node)), 0u);
    size_t expected = sizeof(void*);  // the vtable pointer comes first
    EXPECT_EQ(offset(&node.m_sTagName), expected);
    EXPECT_EQ(offset(&node.m_sNodeContent), expected += sizeof(std::string));
    EXPECT_EQ(offset(&node.m_sQuoteChar), expected += sizeof(std::string));
    EXPECT_EQ(offset(&node.m_mapAttributes), expected += sizeof(std::string));
    EXPECT_EQ(offset(&node.m_vAttributeNames), expected += sizeof(Map));
    EXPECT_EQ(offset(&node.m_vChildren), sizeof(XmlNode));
}

// The store as programs built against 1.0 allocate it; members added since
// live in its padding, so the size and these offsets never change.
struct StoreAsFirstReleased {
    std::string m_sDirName, m_sFileName;
    int m_nFileHandle, m_nErrno;
    bool m_bHeaderWritten;
    std::string m_sErrorMsg;
    bool m_bSaved;
    std::vector<XmlNode> m_vJobResultNodes;
    std::vector<XmlNode>::iterator m_itCurrent;
};

TEST(LibraryBinary, StoreKeepsItsFirstLayout) {
    static_assert(sizeof(CCIJobResults) == sizeof(StoreAsFirstReleased));
    const CCIJobResults now;
    const StoreAsFirstReleased first{};
    const auto at = [](const void* object, const void* member) {
        return static_cast<const char*>(member) - static_cast<const char*>(object);
    };
#define CIJOBRESULTS_SAME_OFFSET(m) EXPECT_EQ(at(&now, &now.m), at(&first, &first.m)) << #m
    CIJOBRESULTS_SAME_OFFSET(m_sFileName);
    CIJOBRESULTS_SAME_OFFSET(m_nFileHandle);
    CIJOBRESULTS_SAME_OFFSET(m_nErrno);
    CIJOBRESULTS_SAME_OFFSET(m_bHeaderWritten);
    CIJOBRESULTS_SAME_OFFSET(m_sErrorMsg);
    CIJOBRESULTS_SAME_OFFSET(m_bSaved);
    CIJOBRESULTS_SAME_OFFSET(m_vJobResultNodes);
    CIJOBRESULTS_SAME_OFFSET(m_itCurrent);
#undef CIJOBRESULTS_SAME_OFFSET
}

#if defined(__x86_64__) && defined(__GXX_ABI_VERSION)
// Itanium C++ ABI: a pointer to a virtual member function is {1 + byte offset
// of its vtable slot, this-adjustment}. Built by hand, it calls a fixed slot.
template <class Pointer>
Pointer SlotPointer(int slot) {
    const std::ptrdiff_t bits[2] = {1 + slot * static_cast<std::ptrdiff_t>(sizeof(void*)), 0};
    static_assert(sizeof(Pointer) == sizeof bits);
    Pointer pointer;
    std::memcpy(&pointer, bits, sizeof pointer);
    return pointer;
}

TEST(LibraryBinary, VirtualSlotsAreGetThenSet) {
    using Getter = const std::string& (XmlNode::*)() const;
    using Setter = void (XmlNode::*)(const std::string&);
    XmlNode plain("p", "");  // the library's constructors install the vtables
    (plain.*SlotPointer<Setter>(1))("  x ");
    EXPECT_EQ((plain.*SlotPointer<Getter>(0))(), "x");
    XmlParsedNode parsed("r", "");
    XmlNode& asBase = parsed;
    (asBase.*SlotPointer<Setter>(1))(" <c/> ");
    EXPECT_EQ((asBase.*SlotPointer<Getter>(0))(), "<c/>");
    EXPECT_EQ(parsed.m_vChildren.size(), 1u) << "slot 1 of XmlParsedNode is not its SetNodeContent";
}
#endif

}  // namespace
