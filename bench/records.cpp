#include "bench/records.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "jobresults/detail/JobResultsFormat.h"

namespace bench {
namespace {

std::uint64_t Mix(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// A small stream of pseudo-random numbers seeded by the record index.
class Dice {
public:
    explicit Dice(std::uint64_t seed) : m_state(Mix(seed ^ 0x6a6f62726573ULL)) {}
    std::uint64_t Next() { return m_state = Mix(m_state); }
    std::uint64_t Below(std::uint64_t bound) { return Next() % bound; }
    template <class T, std::size_t N>
    const T& Pick(const std::array<T, N>& items) {
        return items[Below(N)];
    }

private:
    std::uint64_t m_state;
};

// No value holds "<", ">" or "&": the writer stores values raw, and the
// peers need well-formed XML.
constexpr std::array<const char*, 12> kHostRoles = {"srv-db", "srv-web",     "srv-app", "fs",
                                                    "mail",   "build-agent", "laptop",  "vm-win",
                                                    "nas",    "k8s-node",    "erp",     "dc"};
constexpr std::array<const char*, 4> kDomains = {".corp.example.com", ".lab.example.net", "",
                                                 ".eu.example.org"};
constexpr std::array<const char*, 10> kErrors = {
    "disk full",
    "connection reset by peer",
    "timeout after 3600 s waiting for snapshot",
    "permission denied: /var/lib/postgresql/15/main/pg_wal",
    "checksum mismatch in chunk 4711 of volume 2",
    "client offline",
    "quota exceeded for tenant acme-eu",
    "VSS writer 'SqlServerWriter' failed: retryable error",
    "agent version 7.2 is too old, 7.4 or newer required",
    "file changed during read: /home/share/outlook.pst"};

std::string Padded(std::uint64_t value, int width) {
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) < width) {
        digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
    }
    return digits;
}

std::string ClientName(Dice& dice) {
    std::string name = dice.Pick(kHostRoles);
    name += '-';
    name += Padded(dice.Below(400), 3);
    name += dice.Pick(kDomains);
    return name;
}

std::string JobId(std::uint64_t index, Dice& dice) {
    if (dice.Below(4) == 0) return std::to_string(1700000000ULL + index * 3 + dice.Below(3));
    return "JOB-2026-" + Padded(index + 1, 8);
}

std::string Url(const std::string& client, const std::string& jobId, std::uint64_t index,
                Dice& dice) {
    const std::string day =
        "2026/" + Padded(1 + (index / 40000) % 12, 2) + "/" + Padded(1 + (index / 1500) % 28, 2);
    switch (dice.Below(4)) {
        case 0:
            return "https://backup.example.com/api/v2/clients/" + client + "/jobs/" + jobId;
        case 1:
            return "s3://ci-backups-eu-west-1/" + client + "/" + day + "/full.tar.zst";
        case 2:
            return "smb://" + client + "/backup$/daily/" + day;
        default:
            return "nfs://storage-03.example.com/export/backups/" + client + "/" + jobId;
    }
}

std::uint64_t Size(Dice& dice) {
    const unsigned bits = 10 + static_cast<unsigned>(dice.Below(31));
    return (std::uint64_t{1} << bits) + dice.Below(std::uint64_t{1} << bits);
}

void AppendElement(std::string& out, std::string_view tag, std::string_view value) {
    if (value.empty()) {
        out.append("<").append(tag).append(" />\n");
        return;
    }
    out.append("<").append(tag).append(">\n").append(value);
    if (value.back() != '\n') out += '\n';
    out.append("</").append(tag).append(">\n");
}

bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t count = ::write(fd, data.data() + done, data.size() - done);
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(count);
    }
    return true;
}

}  // namespace

JobResults MakeRecord(std::uint64_t index) {
    Dice dice(index);
    JobResults record;
    record.ClientName = ClientName(dice);
    record.BackupJobId = JobId(index, dice);
    record.Url = Url(record.ClientName, record.BackupJobId, index, dice);
    const bool failed = dice.Below(100) < 8;
    if (failed) record.ErrorString = dice.Pick(kErrors);
    record.Size = failed && dice.Below(2) == 0 ? 0 : Size(dice);
    return record;
}

const std::string& FileHeader() {
    static const std::string header(jobresults::kHeader);
    return header;
}

void AppendRecordText(std::string& out, const JobResults& record) {
    char digits[24];
    const auto converted = std::to_chars(digits, digits + sizeof digits, record.Size);
    out.append("<JobResult>\n");
    AppendElement(out, "ClientName", record.ClientName);
    AppendElement(out, "Url", record.Url);
    AppendElement(out, "BackupJobId", record.BackupJobId);
    AppendElement(out, "ErrorString", record.ErrorString);
    AppendElement(out, "Size",
                  std::string_view(digits, static_cast<std::size_t>(converted.ptr - digits)));
    out.append("</JobResult>\n");
}

bool WriteJobResultsFile(const std::string& path, std::uint64_t count, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    constexpr std::size_t kChunk = 4 << 20;
    std::string chunk;
    chunk.reserve(kChunk + 4096);
    chunk = FileHeader();
    bool ok = true;
    for (std::uint64_t i = 0; i < count && ok; ++i) {
        AppendRecordText(chunk, MakeRecord(i));
        if (chunk.size() >= kChunk) {
            ok = WriteAll(fd, chunk);
            chunk.clear();
        }
    }
    chunk.append(kFinalEndTag);
    ok = ok && WriteAll(fd, chunk);
    if (::close(fd) != 0) ok = false;
    if (!ok) error = "cannot write " + path + ": " + std::strerror(errno);
    return ok;
}

std::string JobResultsFileText(std::uint64_t count) {
    std::string text = FileHeader();
    for (std::uint64_t i = 0; i < count; ++i) AppendRecordText(text, MakeRecord(i));
    text.append(kFinalEndTag);
    return text;
}

void Digest::Add(const JobResults& record) {
    auto first = [](const std::string& s) -> std::uint64_t {
        return s.empty() ? 0 : static_cast<unsigned char>(s.front());
    };
    const std::uint64_t lengths = record.ClientName.size() | record.Url.size() << 12 |
                                  record.BackupJobId.size() << 24 |
                                  static_cast<std::uint64_t>(record.ErrorString.size()) << 36;
    const std::uint64_t bytes = first(record.ClientName) | first(record.Url) << 8 |
                                first(record.BackupJobId) << 16 | first(record.ErrorString) << 24;
    hash = (hash ^ record.Size ^ lengths ^ bytes << 40) * 0x100000001b3ULL + records;
    ++records;
}

Digest ExpectedDigest(std::uint64_t count) {
    Digest digest;
    for (std::uint64_t i = 0; i < count; ++i) digest.Add(MakeRecord(i));
    return digest;
}

Field FieldOf(std::string_view name) {
    switch (name.size()) {
        case 3:
            return name == "Url" ? Field::kUrl : Field::kNone;
        case 4:
            return name == "Size" ? Field::kSize : Field::kNone;
        case 10:
            return name == "ClientName" ? Field::kClientName : Field::kNone;
        case 11:
            if (name == "BackupJobId") return Field::kBackupJobId;
            return name == "ErrorString" ? Field::kErrorString : Field::kNone;
        default:
            return Field::kNone;
    }
}

std::string_view TrimBlanks(std::string_view text) {
    constexpr std::string_view kBlanks = " \r\n\t";
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

void RecordSink::Set(Field field, std::string_view text) {
    text = TrimBlanks(text);
    switch (field) {
        case Field::kClientName:
            record.ClientName.assign(text.data(), text.size());
            break;
        case Field::kUrl:
            record.Url.assign(text.data(), text.size());
            break;
        case Field::kBackupJobId:
            record.BackupJobId.assign(text.data(), text.size());
            break;
        case Field::kErrorString:
            record.ErrorString.assign(text.data(), text.size());
            break;
        case Field::kSize: {
            unsigned long long value = 0;
            const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
            if (parsed.ec == std::errc()) record.Size = value;
            break;
        }
        case Field::kNone:
            break;
    }
}

}  // namespace bench
