#include "bench/table.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace bench {
namespace {

constexpr const char* kOurs = "cijobresults";
constexpr const char* kOursStream = "JobResultsReader";
constexpr double kMB = 1e6;
constexpr double kMiB = 1024.0 * 1024.0;

bool Has(double value) { return !std::isnan(value); }

std::string Format(const char* format, double value) {
    if (!Has(value)) return "-";
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Ratio(double value, double base) {
    return Has(value) && Has(base) && base > 0 ? Format("%.2f", value / base) : "-";
}

const ReadRow* Find(const ReadBlock& block, const std::string& tool) {
    for (const ReadRow& row : block.rows) {
        if (row.tool == tool) return &row;
    }
    return nullptr;
}

double PerRecordNs(double seconds, std::uint64_t records) {
    return Has(seconds) && records > 0 ? seconds * 1e9 / static_cast<double>(records) : kMissing;
}

double MBps(double seconds, std::uint64_t bytes) {
    return Has(seconds) && seconds > 0 ? static_cast<double>(bytes) / kMB / seconds : kMissing;
}

void Line(std::ostream& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Line(std::ostream& out, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    out << text << '\n';
}

// "fresh/warm" ratios of row to base; "-" without a base.
std::string RatioPair(const ReadRow& row, const ReadRow* base) {
    return base ? Ratio(row.fresh, base->fresh) + "/" + Ratio(row.warm, base->warm) : "-";
}

constexpr const char* kReadColumns = "%-9s %7s  %-16s %9s %9s %8s %8s  %-11s %-11s %-11s %7s %7s";

void PrintReads(const Results& results, std::ostream& out) {
    out << "\n1. Read all records (open, deliver every record's five fields)\n";
    Line(out, kReadColumns, "records", "file MB", "tool", "fresh", "warm", "fresh", "warm",
         "x pugixml", "x floor", "x expat", "peak", "peak");
    Line(out, kReadColumns, "", "", "", "ns/rec", "ns/rec", "MB/s", "MB/s", "fresh/warm",
         "fresh/warm", "fresh/warm", "x file", "MiB");
    for (const ReadBlock& block : results.reads) {
        const ReadRow* pugixml = Find(block, "pugixml");
        const ReadRow* floor = Find(block, "floor");
        const ReadRow* expat = Find(block, "expat");
        bool first = true;
        for (const ReadRow& row : block.rows) {
            Line(out, kReadColumns, first ? std::to_string(block.records).c_str() : "",
                 first ? Format("%.1f", static_cast<double>(block.fileBytes) / kMB).c_str() : "",
                 row.tool.c_str(), Format("%.1f", PerRecordNs(row.fresh, block.records)).c_str(),
                 Format("%.1f", PerRecordNs(row.warm, block.records)).c_str(),
                 Format("%.0f", MBps(row.fresh, block.fileBytes)).c_str(),
                 Format("%.0f", MBps(row.warm, block.fileBytes)).c_str(),
                 RatioPair(row, pugixml).c_str(), RatioPair(row, floor).c_str(),
                 RatioPair(row, expat).c_str(),
                 Format("%.2f", row.peakBytes / static_cast<double>(block.fileBytes)).c_str(),
                 Format("%.1f", row.peakBytes / kMiB).c_str());
            if (!row.error.empty()) Line(out, "%-36s error: %s", "", row.error.c_str());
            first = false;
        }
    }
}

void PrintAppends(const Results& results, std::ostream& out) {
    out << "\n2. Append records (each handed to the kernel before the next; warm)\n";
    Line(out, "%-9s  %-15s %9s %9s %9s", "records", "tool", "ns/rec", "x floor", "x sqlite");
    for (const AppendBlock& block : results.appends) {
        const struct {
            const char* tool;
            double seconds;
        } rows[] = {{kOurs, block.ours}, {"floor", block.floor}, {"sqlite", block.sqlite}};
        bool first = true;
        for (const auto& row : rows) {
            if (!Has(row.seconds)) continue;
            Line(out, "%-9s  %-15s %9s %9s %9s", first ? std::to_string(block.records).c_str() : "",
                 row.tool, Format("%.1f", PerRecordNs(row.seconds, block.records)).c_str(),
                 Ratio(row.seconds, block.floor).c_str(), Ratio(row.seconds, block.sqlite).c_str());
            first = false;
        }
    }
}

void PrintScanAndTree(const Results& results, std::ostream& out) {
    out << "\n3. Flat scan with GetXMLNodeList (" << Format("%.1f", results.scanBytes / kMB)
        << " MB, " << results.scanElements << " top-level elements; warm)\n";
    Line(out, "%-15s %9s %9s %9s", "tool", "ms", "MB/s", "x floor");
    Line(out, "%-15s %9s %9s %9s", kOurs, Format("%.2f", results.scanOurs * 1e3).c_str(),
         Format("%.0f", MBps(results.scanOurs, results.scanBytes)).c_str(),
         Ratio(results.scanOurs, results.scanFloor).c_str());
    Line(out, "%-15s %9s %9s %9s", "  new list",
         Format("%.2f", results.scanOursNewList * 1e3).c_str(),
         Format("%.0f", MBps(results.scanOursNewList, results.scanBytes)).c_str(),
         Ratio(results.scanOursNewList, results.scanFloor).c_str());
    Line(out, "%-15s %9s %9s %9s", "floor", Format("%.2f", results.scanFloor * 1e3).c_str(),
         Format("%.0f", MBps(results.scanFloor, results.scanBytes)).c_str(), "1.00");

    out << "\n4. Tree: build and print (" << Format("%.1f", results.treeBytes / kMB) << " MB, "
        << results.treeElements << " elements, 5 levels; warm)\n";
    Line(out, "%-15s %9s %9s %9s %9s %9s %9s", "tool", "build ms", "MB/s", "x pugixml", "print ms",
         "MB/s", "x pugixml");
    const struct {
        const char* tool;
        double build;
        double render;
    } rows[] = {{kOurs, results.treeBuildOurs, results.treeRenderOurs},
                {"pugixml", results.treeBuildPugixml, results.treeRenderPugixml}};
    for (const auto& row : rows) {
        Line(out, "%-15s %9s %9s %9s %9s %9s %9s", row.tool,
             Format("%.1f", row.build * 1e3).c_str(),
             Format("%.0f", MBps(row.build, results.treeBytes)).c_str(),
             Ratio(row.build, results.treeBuildPugixml).c_str(),
             Format("%.1f", row.render * 1e3).c_str(),
             Format("%.0f", MBps(row.render, results.treeBytes)).c_str(),
             Ratio(row.render, results.treeRenderPugixml).c_str());
    }
}

// "MET" or "MISSED" for value <= limit, with the value.
std::string Verdict(double value, double limit) {
    if (!Has(value)) return "not measured";
    return std::string(value <= limit ? "met    " : "MISSED ") + Format("%.2f", value);
}

// Time per record at the largest size against the smallest, fresh and
// warm; "fresh/warm" of the floor beside it, whose growth is the machine's
// (a small file's pages stay in the processor's cache between passes).
double Growth(const Results& results, const std::string& tool, double ReadRow::*time) {
    const ReadBlock& small = results.reads.front();
    const ReadBlock& large = results.reads.back();
    const ReadRow* a = Find(small, tool);
    const ReadRow* b = Find(large, tool);
    if (!a || !b) return kMissing;
    return PerRecordNs(b->*time, large.records) / PerRecordNs(a->*time, small.records);
}

void PrintReadGrowth(const Results& results, const char* tool, const char* label,
                     std::ostream& out) {
    if (results.reads.size() < 2 || !Has(Growth(results, tool, &ReadRow::fresh))) return;
    Line(out, "  growth %s %s vs %s per record <= 1.1  fresh %-14s warm %-14s floor %s/%s", label,
         std::to_string(results.reads.back().records).c_str(),
         std::to_string(results.reads.front().records).c_str(),
         Verdict(Growth(results, tool, &ReadRow::fresh), 1.1).c_str(),
         Verdict(Growth(results, tool, &ReadRow::warm), 1.1).c_str(),
         Format("%.2f", Growth(results, "floor", &ReadRow::fresh)).c_str(),
         Format("%.2f", Growth(results, "floor", &ReadRow::warm)).c_str());
}

// The streaming reader: time against the floor, pugixml and expat from
// 100 000 records on, peak memory above the baseline at every size, growth.
void PrintStreamTargets(const Results& results, std::ostream& out) {
    for (const ReadBlock& block : results.reads) {
        const ReadRow* stream = Find(block, kOursStream);
        if (!stream) continue;
        const std::string at = std::to_string(block.records);
        const struct {
            const char* base;
            const char* limitText;
            double limit;
        } limits[] = {{"floor", "<= 1.5 x floor  ", 1.5},
                      {"pugixml", "<= 0.4 x pugixml", 0.4},
                      {"expat", "<= 1/3 x expat  ", 1.0 / 3}};
        for (const auto& limit : limits) {
            const ReadRow* base = Find(block, limit.base);
            if (block.records < 100000 || !base) continue;
            Line(out, "  stream %-8s %s  fresh %-14s warm %s", at.c_str(), limit.limitText,
                 Verdict(stream->fresh / base->fresh, limit.limit).c_str(),
                 Verdict(stream->warm / base->warm, limit.limit).c_str());
        }
        Line(out, "  stream peak %-8s <= 4 MiB above an empty run  %s", at.c_str(),
             Verdict(stream->peakBytes / kMiB, 4.0).c_str());
    }
    PrintReadGrowth(results, kOursStream, "stream", out);
}

void PrintTargets(const Results& results, std::ostream& out) {
    out << "\n5. Targets (ratios of times from this run; lower is faster)\n";
    for (const ReadBlock& block : results.reads) {
        if (block.records < 100000) continue;
        const ReadRow* ours = Find(block, kOurs);
        const ReadRow* pugixml = Find(block, "pugixml");
        const ReadRow* floor = Find(block, "floor");
        if (!ours || !pugixml || !floor) continue;
        const std::string at = std::to_string(block.records);
        Line(out, "  read %-8s <= 0.5 x pugixml  fresh %-14s warm %s", at.c_str(),
             Verdict(ours->fresh / pugixml->fresh, 0.5).c_str(),
             Verdict(ours->warm / pugixml->warm, 0.5).c_str());
        Line(out, "  read %-8s <= 3 x floor      fresh %-14s warm %s", at.c_str(),
             Verdict(ours->fresh / floor->fresh, 3.0).c_str(),
             Verdict(ours->warm / floor->warm, 3.0).c_str());
        Line(out, "  peak %-8s <= 2 x file size  %s", at.c_str(),
             Verdict(ours->peakBytes / static_cast<double>(block.fileBytes), 2.0).c_str());
    }
    for (const AppendBlock& block : results.appends) {
        if (block.records != 100000) continue;
        Line(out, "  append %-6s <= 1.5 x floor    %s", std::to_string(block.records).c_str(),
             Verdict(block.ours / block.floor, 1.5).c_str());
    }
    PrintReadGrowth(results, kOurs, "read", out);
    if (results.appends.size() >= 2) {
        const AppendBlock& small = results.appends.front();
        const AppendBlock& large = results.appends.back();
        Line(
            out, "  growth append %s vs %s per record <= 1.1  %s",
            std::to_string(large.records).c_str(), std::to_string(small.records).c_str(),
            Verdict(PerRecordNs(large.ours, large.records) / PerRecordNs(small.ours, small.records),
                    1.1)
                .c_str());
    }
    Line(out, "  flat scan <= 2 x floor          %s",
         Verdict(results.scanOurs / results.scanFloor, 2.0).c_str());
    PrintStreamTargets(results, out);
}

}  // namespace

void PrintTable(const Results& results, std::ostream& out) {
    out << "cijobresults benchmarks: " << results.context << "\n";
    out << "Generator check: " << results.selfCheck << "\n";
    out << "Reads run in processes of their own, one tool each: fresh = the first pass, warm =\n"
           "the passes after it in the same process (medians over processes); peak = peak\n"
           "resident size after the first pass above an empty run, as a multiple of the file\n"
           "size and in MiB. The other workloads: Google Benchmark in one process, median of\n"
           "repetitions.\n";
    PrintReads(results, out);
    PrintAppends(results, out);
    PrintScanAndTree(results, out);
    PrintTargets(results, out);
    for (const std::string& error : results.errors) out << "error: " << error << "\n";
}

void WritePlotData(const Results& results, std::ostream& out) {
    if (results.reads.empty()) return;
    out << "# records MB";
    for (const ReadRow& row : results.reads.front().rows) {
        out << " " << row.tool << "-fresh " << row.tool << "-warm";
    }
    out << "\n";
    for (const ReadBlock& block : results.reads) {
        out << block.records << " " << Format("%.2f", block.fileBytes / kMB);
        for (const ReadRow& row : block.rows) {
            out << " " << Format("%.1f", MBps(row.fresh, block.fileBytes)) << " "
                << Format("%.1f", MBps(row.warm, block.fileBytes));
        }
        out << "\n";
    }
}

}  // namespace bench
