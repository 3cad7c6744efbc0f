// The benchmark harness. Generates the job results files once, checks the
// generator against the writer, runs each read in processes of its own
// (read_once: the first pass is fresh, the passes after it warm, and the
// peak memory of the first pass), runs the other workloads with Google
// Benchmark (many passes in this process), and prints one table with the
// ratios of this run.
//
//   cijobresults_bench [--data-dir DIR] [--quick] [--repetitions N]
//                      [--fresh N | --no-fresh] [--plot-data FILE]
//                      [Google Benchmark flags]
//
// Google Benchmark's own flags pass through, e.g. --benchmark_filter=scan.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>

#include "bench/readers.h"
#include "bench/records.h"
#include "bench/selfcheck.h"
#include "bench/table.h"
#include "bench/workloads.h"

extern char** environ;

namespace bench {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kScanBytes = 20u << 20;
constexpr std::size_t kTreeBytes = 20u << 20;
constexpr double kMinTime = 0.3;

struct Options {
    std::string dataDir = "bench-data";
    std::vector<std::uint64_t> sizes = {10000, 100000, 1000000};
    int repetitions = 5;
    int fresh = 5;
    bool runFresh = true;
    bool userFilter = false;
    std::string plotData;
};

double Median(std::vector<double> values) {
    if (values.empty()) return kMissing;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// Keeps every repetition's real time per benchmark. Google Benchmark's own
// report goes to a log file; a one-line note per run goes to stderr.
class Collector : public benchmark::ConsoleReporter {
public:
    Collector() : ConsoleReporter(OO_Tabular) {}

    std::map<std::string, std::vector<double>> seconds;
    std::map<std::string, std::string> errors;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const std::string& name = run.run_name.function_name;
            if (run.error_occurred) {
                errors[name] = run.error_message;
                std::cerr << name << ": " << run.error_message << "\n";
            } else if (run.run_type == Run::RT_Iteration) {
                const double time =
                    run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
                seconds[name].push_back(time);
                std::fprintf(stderr, "%-34s %10.3f ms\n", name.c_str(), time * 1e3);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    double MedianOf(const std::string& name) const {
        const auto found = seconds.find(name);
        return found == seconds.end() ? kMissing : Median(found->second);
    }
};

// --- data ----------------------------------------------------------------

JobResultsFile FileFor(const Options& options, std::uint64_t records) {
    return {options.dataDir + "/jr", "ci_push_" + std::to_string(records) + ".xml"};
}

bool EnsureFile(const JobResultsFile& file, std::uint64_t records, std::string& error) {
    if (fs::exists(file.Path())) return true;
    std::cerr << "generating " << file.Path() << " (" << records << " records)\n";
    const std::string partial = file.Path() + ".partial";
    if (!WriteJobResultsFile(partial, records, error)) return false;
    fs::rename(partial, file.Path());
    return true;
}

template <class T>
const T& Lazy(std::map<std::uint64_t, std::unique_ptr<T>>& cache, std::uint64_t key,
              T (*make)(std::uint64_t)) {
    auto& slot = cache[key];
    if (!slot) slot = std::make_unique<T>(make(key));
    return *slot;
}

const std::vector<JobResults>& RecordsFor(std::uint64_t count) {
    static std::map<std::uint64_t, std::unique_ptr<std::vector<JobResults>>> cache;
    return Lazy(cache, count, MakeRecords);
}

const PreparedAppends& PreparedFor(std::uint64_t count) {
    static std::map<std::uint64_t, std::unique_ptr<PreparedAppends>> cache;
    return Lazy(
        cache, count, +[](std::uint64_t n) { return PrepareAppends(RecordsFor(n)); });
}

// --- read ----------------------------------------------------------------

struct Expected {
    Digest digest;
    std::uint64_t floorTags = 0;

    bool Matches(Reader reader, const Digest& got) const {
        if (reader == Reader::kFloor) return got.records == floorTags;
        return got == digest;
    }
};

// Passes per read process: the first is the fresh figure, the median of the
// others the warm one. Some tools' second pass still grows the heap that
// their first pass gave back; the third finds it in place.
constexpr int kPassesPerProcess = 3;

struct ChildResult {
    bool ok = false;
    double seconds = kMissing;      // the first pass
    double warmSeconds = kMissing;  // the passes after it
    double maxRssBytes = kMissing;  // after the first pass
    Digest digest;
    std::string error;
};

// Runs read_once in a new process.
ChildResult RunReadOnce(const std::string& exe, const std::string& tool, const JobResultsFile& file,
                        int passes) {
    ChildResult result;
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        result.error = "pipe failed";
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    std::vector<std::string> args = {exe, tool, file.dir, file.name, std::to_string(passes)};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    std::string output;
    char buffer[256];
    ssize_t count;
    while ((count = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<std::size_t>(count));
    ::close(pipeEnds[0]);
    if (spawned != 0) {
        result.error = "cannot run " + exe;
        return result;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    long long ns = 0, warmNs = 0;
    long peakKb = 0;
    unsigned long long records = 0, hash = 0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        std::sscanf(output.c_str(), "%lld %llu %llu %lld %ld", &ns, &records, &hash, &warmNs,
                    &peakKb) != 5) {
        result.error = tool + " failed in a process of its own on " + file.Path();
        return result;
    }
    result.ok = true;
    result.seconds = static_cast<double>(ns) * 1e-9;
    result.warmSeconds = warmNs > 0 ? static_cast<double>(warmNs) * 1e-9 : kMissing;
    result.maxRssBytes = static_cast<double>(peakKb) * 1024.0;
    result.digest.records = records;
    result.digest.hash = hash;
    return result;
}

std::string ReadOnceExe() {
    return (fs::read_symlink("/proc/self/exe").parent_path() / "read_once").string();
}

// The reads, each in a process of its own, interleaved over sizes and tools
// so that noise from other work on the machine spreads over all of them.
void RunReads(const Options& options, const std::map<std::uint64_t, Expected>& expected,
              Results& results) {
    const std::string exe = ReadOnceExe();
    std::map<std::pair<std::uint64_t, std::string>, std::vector<double>> times, warmTimes, peaks;
    std::vector<double> baseline;
    for (int pass = 0; pass < options.fresh; ++pass) {
        std::cerr << "read processes: round " << pass + 1 << " of " << options.fresh << "\n";
        baseline.push_back(
            RunReadOnce(exe, "none", FileFor(options, options.sizes.front()), 1).maxRssBytes);
        for (const std::uint64_t records : options.sizes) {
            for (const Reader reader : AllReaders()) {
                const JobResultsFile file = FileFor(options, records);
                const ChildResult run =
                    RunReadOnce(exe, ReaderName(reader), file, kPassesPerProcess);
                const bool valid = run.ok && expected.at(records).Matches(reader, run.digest);
                if (!valid) {
                    results.errors.push_back(run.ok ? std::string(ReaderName(reader)) +
                                                          " delivered other records from " +
                                                          file.Path()
                                                    : run.error);
                    continue;
                }
                times[{records, ReaderName(reader)}].push_back(run.seconds);
                warmTimes[{records, ReaderName(reader)}].push_back(run.warmSeconds);
                peaks[{records, ReaderName(reader)}].push_back(run.maxRssBytes);
            }
        }
    }
    const double base = Median(baseline);
    for (ReadBlock& block : results.reads) {
        for (ReadRow& row : block.rows) {
            row.fresh = Median(times[{block.records, row.tool}]);
            row.warm = Median(warmTimes[{block.records, row.tool}]);
            row.peakBytes = std::max(0.0, Median(peaks[{block.records, row.tool}]) - base);
        }
    }
}

// --- append --------------------------------------------------------------

void RegisterAppend(const Options& options, const std::string& tool, std::uint64_t records) {
    const fs::path work = fs::path(options.dataDir) / "append-work";
    const std::string name = "append/" + tool + "/" + std::to_string(records);
    benchmark::RegisterBenchmark(
        name.c_str(),
        [=](benchmark::State& state) {
            const std::vector<JobResults>& input = RecordsFor(records);
            const PreparedAppends* prepared = tool == "floor" ? &PreparedFor(records) : nullptr;
            static std::map<std::uint64_t, bool> checked;
            fs::remove_all(work);
            fs::create_directories(work / "ours");
            const std::string target = (work / (tool + ".out")).string();
            std::string error, path;
            for (auto _ : state) {
                bool ok;
                if (tool == "floor") {
                    ok = AppendFloor(target, *prepared, error);
                } else if (tool == "sqlite") {
                    ok = AppendSqlite(target, input, error);
                } else {
                    ok = AppendOurs((work / "ours").string(), input, path, error);
                }
                if (!ok) {
                    state.SkipWithError(error.c_str());
                    break;
                }
            }
            if (tool == "cijobresults" && !checked[records] && !path.empty()) {
                // What the writer produced must be what the generator makes.
                std::string written;
                checked[records] = true;
                if (!SlurpFile(path, written) || written != JobResultsFileText(records)) {
                    state.SkipWithError("the writer's file differs from the generator's");
                }
            }
            RemoveSqlite(target);
            fs::remove_all(work);
        })
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->Repetitions(options.repetitions);
}

// --- scan and tree -------------------------------------------------------

struct ScanInput {
    std::string text;
    std::uint64_t records = 0;
};
const ScanInput& Scan() {
    static const ScanInput input = [] {
        ScanInput made;
        made.text = ScanText(kScanBytes, made.records);
        return made;
    }();
    return input;
}

const TreeDocument& Tree() {
    static const TreeDocument doc = MakeTreeDocument(kTreeBytes);
    return doc;
}

template <class Body>
void RegisterWarm(const Options& options, const std::string& name, Body body) {
    benchmark::RegisterBenchmark(name.c_str(), body)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond)
        ->MinTime(kMinTime)
        ->Repetitions(options.repetitions);
}

void RegisterScanAndTree(const Options& options) {
    RegisterWarm(options, "scan/cijobresults", [](benchmark::State& state) {
        const ScanInput& input = Scan();
        std::vector<XmlNode> nodes;
        for (auto _ : state) {
            if (ScanOurs(input.text, nodes) != input.records) {
                state.SkipWithError("GetXMLNodeList found another number of elements");
                break;
            }
        }
    });
    // The same scan into a list made for it: every node and string is new.
    RegisterWarm(options, "scan/cijobresults-new-list", [](benchmark::State& state) {
        const ScanInput& input = Scan();
        for (auto _ : state) {
            std::vector<XmlNode> nodes;
            if (ScanOurs(input.text, nodes) != input.records) {
                state.SkipWithError("GetXMLNodeList found another number of elements");
                break;
            }
        }
    });
    RegisterWarm(options, "scan/floor", [](benchmark::State& state) {
        const ScanInput& input = Scan();
        for (auto _ : state) benchmark::DoNotOptimize(ScanFloor(input.text));
    });
    RegisterWarm(options, "tree-build/cijobresults", [](benchmark::State& state) {
        const TreeDocument& doc = Tree();
        for (auto _ : state) {
            const XmlParsedNode root = BuildOurs(doc);
            benchmark::DoNotOptimize(root.m_vChildren.data());
        }
    });
    RegisterWarm(options, "tree-build/pugixml", [](benchmark::State& state) {
        const TreeDocument& doc = Tree();
        for (auto _ : state) {
            pugi::xml_document document;
            if (!BuildPugixml(doc, document)) {
                state.SkipWithError("pugixml cannot parse the tree document");
                break;
            }
        }
    });
    RegisterWarm(options, "tree-render/cijobresults", [](benchmark::State& state) {
        XmlParsedNode root = BuildOurs(Tree());
        for (auto _ : state) benchmark::DoNotOptimize(root.OutputXMLNodeString().size());
    });
    RegisterWarm(options, "tree-render/pugixml", [](benchmark::State& state) {
        pugi::xml_document document;
        BuildPugixml(Tree(), document);
        for (auto _ : state) benchmark::DoNotOptimize(RenderPugixml(document).size());
    });
}

// Both trees must hold the same elements for the comparison to mean anything.
void CheckTrees(Results& results) {
    const TreeDocument& doc = Tree();
    const XmlParsedNode ours = BuildOurs(doc);
    pugi::xml_document document;
    BuildPugixml(doc, document);
    results.treeBytes = doc.document.size();
    results.treeElements = CountElements(ours);
    const std::size_t theirs = CountElements(document.document_element());
    if (theirs != results.treeElements) {
        results.errors.push_back("tree: ours has " + std::to_string(results.treeElements) +
                                 " elements, pugixml " + std::to_string(theirs));
    }
}

// --- main ----------------------------------------------------------------

bool ParseOptions(int& argc, char** argv, Options& options) {
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--quick") {
            options.sizes = {10000, 100000};
            options.repetitions = 3;
            options.fresh = 3;
        } else if (arg == "--data-dir" && hasValue) {
            options.dataDir = argv[++i];
        } else if (arg == "--repetitions" && hasValue) {
            options.repetitions = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--fresh" && hasValue) {
            options.fresh = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--no-fresh") {
            options.runFresh = false;
        } else if (arg == "--plot-data" && hasValue) {
            options.plotData = argv[++i];
        } else if (arg.rfind("--benchmark_", 0) == 0) {
            options.userFilter = options.userFilter || arg.rfind("--benchmark_filter", 0) == 0;
            argv[kept++] = argv[i];
        } else {
            std::cerr << "unknown argument " << arg << "\n";
            return false;
        }
    }
    argc = kept;
    return true;
}

std::string Context(const Options& options) {
    char date[64];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    std::ostringstream text;
    text << date << ", " << ::sysconf(_SC_NPROCESSORS_ONLN) << " cores, "
#if defined(__clang__)
         << "clang++ " << __clang_major__ << "." << __clang_minor__
#else
         << "g++ " << __GNUC__ << "." << __GNUC_MINOR__
#endif
         << ", " << options.repetitions << " repetitions, " << options.fresh
         << " read processes per figure";
    return text.str();
}

int Run(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) return 2;
    // Repetitions of all benchmarks run in random order, so that a burst of
    // other work on the machine does not land on one tool only.
    std::vector<char*> args(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave.data());
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    fs::create_directories(options.dataDir);
    std::ofstream log(options.dataDir + "/benchmark.log");

    Results results;
    results.context = Context(options);
    results.selfCheckOk = GeneratorMatchesWriter(results.selfCheck);
    std::cerr << results.selfCheck << "\n";

    std::map<std::uint64_t, Expected> expected;
    for (const std::uint64_t records : options.sizes) {
        const JobResultsFile file = FileFor(options, records);
        std::string error;
        if (!EnsureFile(file, records, error)) {
            std::cerr << error << "\n";
            return 1;
        }
        expected[records] = {ExpectedDigest(records), ExpectedFloorCount(records)};
        ReadBlock block;
        block.records = records;
        block.fileBytes = fs::file_size(file.Path());
        for (const Reader reader : AllReaders()) {
            ReadRow row;
            row.tool = ReaderName(reader);
            block.rows.push_back(row);
        }
        results.reads.push_back(block);
    }
    std::vector<std::uint64_t> appendSizes = {10000, 100000};
    if (options.sizes.back() > 100000) appendSizes.push_back(options.sizes.back());
    for (const std::uint64_t records : appendSizes) {
        AppendBlock block;
        block.records = records;
        results.appends.push_back(block);
        RegisterAppend(options, "cijobresults", records);
        RegisterAppend(options, "floor", records);
        if (records == 100000) RegisterAppend(options, "sqlite", records);
    }
    RegisterScanAndTree(options);

    if (options.runFresh) RunReads(options, expected, results);

    Collector collector;
    collector.SetOutputStream(&log);
    collector.SetErrorStream(&log);
    if (options.userFilter) {
        benchmark::RunSpecifiedBenchmarks(&collector);
    } else {
        // The in-memory workloads first, then the appends (whose inputs
        // alone take hundreds of MB of the heap).
        for (const char* phase : {"^(scan|tree)", "^append/"}) {
            benchmark::RunSpecifiedBenchmarks(&collector, phase);
        }
    }
    benchmark::Shutdown();

    for (const auto& [name, message] : collector.errors)
        results.errors.push_back(name + ": " + message);
    for (AppendBlock& block : results.appends) {
        const std::string n = "/" + std::to_string(block.records);
        block.ours = collector.MedianOf("append/cijobresults" + n);
        block.floor = collector.MedianOf("append/floor" + n);
        block.sqlite = collector.MedianOf("append/sqlite" + n);
    }
    results.scanBytes = Scan().text.size();
    results.scanElements = Scan().records;
    results.scanOurs = collector.MedianOf("scan/cijobresults");
    results.scanFloor = collector.MedianOf("scan/floor");
    results.scanOursNewList = collector.MedianOf("scan/cijobresults-new-list");
    if (collector.seconds.count("tree-build/cijobresults")) CheckTrees(results);
    results.treeBuildOurs = collector.MedianOf("tree-build/cijobresults");
    results.treeBuildPugixml = collector.MedianOf("tree-build/pugixml");
    results.treeRenderOurs = collector.MedianOf("tree-render/cijobresults");
    results.treeRenderPugixml = collector.MedianOf("tree-render/pugixml");

    PrintTable(results, std::cout);
    if (!options.plotData.empty()) {
        std::ofstream plot(options.plotData);
        WritePlotData(results, plot);
    }
    return results.selfCheckOk && results.errors.empty() ? 0 : 1;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) { return bench::Run(argc, argv); }
