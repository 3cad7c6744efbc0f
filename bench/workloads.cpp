#include "bench/workloads.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "bench/records.h"

namespace bench {

// --- append -------------------------------------------------------------

std::vector<JobResults> MakeRecords(std::uint64_t count) {
    std::vector<JobResults> records;
    records.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i) records.push_back(MakeRecord(i));
    return records;
}

PreparedAppends PrepareAppends(const std::vector<JobResults>& records) {
    PreparedAppends prepared;
    prepared.bytes = FileHeader();
    prepared.ends.reserve(records.size());
    for (const JobResults& record : records) {
        AppendRecordText(prepared.bytes, record);
        prepared.bytes.append(kTrailer);
        prepared.ends.push_back(prepared.bytes.size());
    }
    return prepared;
}

bool AppendOurs(const std::string& dir, const std::vector<JobResults>& records, std::string& path,
                std::string& error) {
    {
        CCIJobResults writer;
        if (writer.createJobResults(dir + "/w") != 1) {
            error = writer.m_sErrorMsg;
            return false;
        }
        for (const JobResults& record : records) {
            if (writer.addJobResult(record) != 1) {
                error = writer.m_sErrorMsg;
                return false;
            }
        }
        if (writer.saveJobResults() != 1) {
            error = writer.m_sErrorMsg;
            return false;
        }
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        path = entry.path().string();
        return true;
    }
    error = "the writer left no file in " + dir;
    return false;
}

bool AppendFloor(const std::string& path, const PreparedAppends& prepared, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = true;
    std::size_t begin = 0;
    for (const std::size_t end : prepared.ends) {
        ok = ok && ::write(fd, prepared.bytes.data() + begin, end - begin) ==
                       static_cast<ssize_t>(end - begin);
        ok = ok && ::lseek(fd, -static_cast<off_t>(kTrailer.size()), SEEK_CUR) >= 0;
        begin = end;
    }
    ok = ok && ::write(fd, kFinalEndTag.data(), kFinalEndTag.size()) ==
                   static_cast<ssize_t>(kFinalEndTag.size());
    ::close(fd);
    if (!ok) error = "cannot write " + path + ": " + std::strerror(errno);
    return ok;
}

namespace {

bool Exec(sqlite3* db, const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = std::string("sqlite: ") + (message ? message : "error");
    sqlite3_free(message);
    return false;
}

bool InsertAll(sqlite3* db, const std::vector<JobResults>& records, std::string& error) {
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_prepare_v2(db, "INSERT INTO job_results VALUES (?1, ?2, ?3, ?4, ?5)", -1, &insert,
                           nullptr) != SQLITE_OK) {
        error = std::string("sqlite: ") + sqlite3_errmsg(db);
        return false;
    }
    bool ok = true;
    for (const JobResults& record : records) {
        const std::string* texts[] = {&record.ClientName, &record.Url, &record.BackupJobId,
                                      &record.ErrorString};
        for (int i = 0; i < 4; ++i) {
            sqlite3_bind_text(insert, i + 1, texts[i]->data(), static_cast<int>(texts[i]->size()),
                              SQLITE_STATIC);
        }
        sqlite3_bind_int64(insert, 5, static_cast<sqlite3_int64>(record.Size));
        if (sqlite3_step(insert) != SQLITE_DONE) {
            error = std::string("sqlite: ") + sqlite3_errmsg(db);
            ok = false;
            break;
        }
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    return ok;
}

}  // namespace

bool AppendSqlite(const std::string& path, const std::vector<JobResults>& records,
                  std::string& error, const std::string& synchronous) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        error = "sqlite: cannot open " + path;
        sqlite3_close(db);
        return false;
    }
    const std::string setup = "PRAGMA journal_mode=WAL; PRAGMA synchronous=" + synchronous +
                              "; CREATE TABLE job_results (client_name TEXT, url TEXT,"
                              " backup_job_id TEXT, error_string TEXT, size INTEGER);";
    const bool ok = Exec(db, setup.c_str(), error) && InsertAll(db, records, error);
    sqlite3_close(db);
    return ok;
}

void RemoveSqlite(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((path + suffix).c_str());
}

// --- flat scan ----------------------------------------------------------

std::string ScanText(std::size_t bytes, std::uint64_t& records) {
    std::string text;
    text.reserve(bytes + 4096);
    for (records = 0; text.size() < bytes; ++records) AppendRecordText(text, MakeRecord(records));
    return text;
}

std::size_t ScanOurs(const std::string& text, std::vector<XmlNode>& nodes) {
    XmlNode::GetXMLNodeList(text, nodes);
    return nodes.size();
}

std::size_t ScanFloor(const std::string& text) {
    std::size_t count = 0;
    const char* at = text.data();
    const char* const end = at + text.size();
    while (
        (at = static_cast<const char*>(std::memchr(at, '<', static_cast<std::size_t>(end - at))))) {
        ++count;
        ++at;
    }
    return count;
}

// --- tree ---------------------------------------------------------------

namespace {

// Appends one line: indentation, text, newline.
void Line(std::string& out, int level, const std::string& text) {
    out.append(3 * static_cast<std::size_t>(level), ' ').append(text).append("\n");
}

void AppendRun(std::string& out, std::uint64_t serial, const JobResults& result) {
    const std::string start = "2026-" + std::to_string(1 + serial % 12) + "-" +
                              std::to_string(1 + serial % 28) + "T02:00:00Z";
    const bool failed = !result.ErrorString.empty();
    Line(out, 4, "<Run start='" + start + "' status='" + (failed ? "failed" : "ok") + "'>");
    Line(out, 5, "<Size>" + std::to_string(result.Size) + "</Size>");
    Line(out, 5, "<Files>" + std::to_string(result.Size / 65536 + serial % 97) + "</Files>");
    Line(out, 5, failed ? "<Error>" + result.ErrorString + "</Error>" : std::string("<Error />"));
    Line(out, 4, "</Run>");
}

void AppendJob(std::string& out, std::uint64_t& serial) {
    const JobResults first = MakeRecord(serial);
    Line(out, 3, "<Job id='" + first.BackupJobId + "' schedule='daily'>");
    for (int run = 0; run < 6; ++run, ++serial) AppendRun(out, serial, MakeRecord(serial));
    Line(out, 3, "</Job>");
}

struct StringWriter : pugi::xml_writer {
    std::string text;
    void write(const void* data, std::size_t size) override {
        text.append(static_cast<const char*>(data), size);
    }
};

}  // namespace

TreeDocument MakeTreeDocument(std::size_t bytes) {
    TreeDocument doc;
    std::string& out = doc.content;
    out.reserve(bytes + (1 << 20));
    out += "\n";
    std::uint64_t serial = 0;
    for (int site = 0; out.size() < bytes; ++site) {
        Line(out, 1,
             "<Site name='site-" + std::to_string(site) + "' id='" + std::to_string(site) + "'>");
        for (int client = 0; client < 40; ++client) {
            const JobResults host = MakeRecord(serial);
            Line(out, 2, "<Client name='" + host.ClientName + "' os='linux'>");
            for (int job = 0; job < 5; ++job) AppendJob(out, serial);
            Line(out, 2, "</Client>");
        }
        Line(out, 1, "</Site>");
    }
    doc.document = "<Backups>" + doc.content + "</Backups>\n";
    return doc;
}

XmlParsedNode BuildOurs(const TreeDocument& doc) { return XmlParsedNode("Backups", doc.content); }

std::size_t CountElements(const XmlParsedNode& node) {
    std::size_t count = 1;
    for (const XmlParsedNode& child : node.m_vChildren) count += CountElements(child);
    return count;
}

bool BuildPugixml(const TreeDocument& doc, pugi::xml_document& document) {
    return static_cast<bool>(document.load_buffer(doc.document.data(), doc.document.size()));
}

std::size_t CountElements(const pugi::xml_node node) {
    std::size_t count = 1;
    for (const pugi::xml_node child : node.children()) {
        if (child.type() == pugi::node_element) count += CountElements(child);
    }
    return count;
}

std::string RenderPugixml(const pugi::xml_document& document) {
    StringWriter writer;
    document.save(writer, "   ", pugi::format_indent | pugi::format_no_declaration);
    return std::move(writer.text);
}

}  // namespace bench
