#include "bench/readers.h"

#include <expat.h>
#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlreader.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <pugixml.hpp>
#include <rapidxml/rapidxml.hpp>

#include "jobresults/JobResultsReader.h"

namespace bench {
namespace {

constexpr std::size_t kBlock = 1 << 20;

std::string_view View(const xmlChar* text) {
    return text == nullptr ? std::string_view()
                           : std::string_view(reinterpret_cast<const char*>(text));
}

ReadResult Failure(std::string error) {
    ReadResult result;
    result.error = std::move(error);
    return result;
}

ReadResult Success(const Digest& digest) {
    ReadResult result;
    result.ok = true;
    result.digest = digest;
    return result;
}

// Reads a whole file with as few read calls as its size allows.
bool ReadFile(const std::string& path, std::vector<char>& data, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    ::fstat(fd, &info);
    data.resize(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t done = 0;
    for (;;) {
        if (done + 1 >= data.size()) data.resize(data.size() * 2);
        const ssize_t count = ::read(fd, data.data() + done, data.size() - 1 - done);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        done += static_cast<std::size_t>(count);
    }
    ::close(fd);
    data.resize(done + 1);
    data[done] = '\0';
    return true;
}

ReadResult ReadOurs(const JobResultsFile& file) {
    CCIJobResults reader;
    if (reader.openJobResults(file.dir, file.name) != 1) return Failure(reader.m_sErrorMsg);
    Digest digest;
    JobResults record;
    for (;;) {
        const int status = reader.getNextJobResult(record);
        if (status < 0) return Failure(reader.m_sErrorMsg);
        digest.Add(record);
        if (status == 0) return Success(digest);
    }
}

ReadResult ReadOursStream(const JobResultsFile& file, bool strict = false) {
    JobResultsReader reader;
    reader.setStrict(strict);
    if (!reader.open(file.dir, file.name)) return Failure(reader.errorMessage());
    Digest digest;
    JobResults record;
    while (reader.next(record)) digest.Add(record);
    if (!reader.ok()) return Failure(reader.errorMessage());
    return Success(digest);
}

ReadResult ReadPugixml(const JobResultsFile& file) {
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_file(file.Path().c_str());
    if (!parsed) return Failure(std::string("pugixml: ") + parsed.description());
    RecordSink sink;
    for (const pugi::xml_node record : document.child("Root").children("JobResult")) {
        for (const pugi::xml_node field : record.children()) {
            sink.Set(FieldOf(field.name()), field.child_value());
        }
        sink.Deliver();
    }
    return Success(sink.digest);
}

ReadResult ReadRapidxml(const JobResultsFile& file) {
    std::vector<char> text;
    std::string error;
    if (!ReadFile(file.Path(), text, error)) return Failure(error);
    auto document = std::make_unique<rapidxml::xml_document<>>();
    try {
        document->parse<0>(text.data());
    } catch (const rapidxml::parse_error& e) {
        return Failure(std::string("rapidxml: ") + e.what());
    }
    RecordSink sink;
    const rapidxml::xml_node<>* root = document->first_node("Root");
    if (root == nullptr) return Failure("rapidxml: no Root");
    for (const rapidxml::xml_node<>* record = root->first_node("JobResult"); record != nullptr;
         record = record->next_sibling("JobResult")) {
        for (const rapidxml::xml_node<>* field = record->first_node(); field != nullptr;
             field = field->next_sibling()) {
            sink.Set(FieldOf(std::string_view(field->name(), field->name_size())),
                     std::string_view(field->value(), field->value_size()));
        }
        sink.Deliver();
    }
    return Success(sink.digest);
}

// Expat hands text over in pieces (it splits at line breaks), so a field's
// text is gathered until its end tag.
struct ExpatState {
    RecordSink sink;
    Field field = Field::kNone;
    std::string text;
};

void ExpatStart(void* data, const XML_Char* name, const XML_Char** /*attributes*/) {
    auto& state = *static_cast<ExpatState*>(data);
    state.field = FieldOf(name);
    state.text.clear();
}

void ExpatText(void* data, const XML_Char* text, int length) {
    auto& state = *static_cast<ExpatState*>(data);
    if (state.field != Field::kNone) state.text.append(text, static_cast<std::size_t>(length));
}

void ExpatEnd(void* data, const XML_Char* name) {
    auto& state = *static_cast<ExpatState*>(data);
    if (state.field != Field::kNone) {
        state.sink.Set(state.field, state.text);
        state.field = Field::kNone;
    } else if (std::strcmp(name, "JobResult") == 0) {
        state.sink.Deliver();
    }
}

ReadResult ReadExpat(const JobResultsFile& file) {
    const int fd = ::open(file.Path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Failure("cannot open " + file.Path());
    std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreate(nullptr),
                                                                   XML_ParserFree);
    ExpatState state;
    XML_SetUserData(parser.get(), &state);
    XML_SetElementHandler(parser.get(), ExpatStart, ExpatEnd);
    XML_SetCharacterDataHandler(parser.get(), ExpatText);
    std::string error;
    for (;;) {
        void* buffer = XML_GetBuffer(parser.get(), kBlock);
        const ssize_t count = buffer == nullptr ? -1 : ::read(fd, buffer, kBlock);
        if (count < 0) {
            error = "expat: read failed";
            break;
        }
        if (XML_ParseBuffer(parser.get(), static_cast<int>(count), count == 0) != XML_STATUS_OK) {
            error = std::string("expat: ") + XML_ErrorString(XML_GetErrorCode(parser.get()));
            break;
        }
        if (count == 0) break;
    }
    ::close(fd);
    if (!error.empty()) return Failure(error);
    return Success(state.sink.digest);
}

bool IsElement(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE &&
           std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

ReadResult ReadLibxml2Tree(const JobResultsFile& file) {
    xmlDocPtr document = xmlReadFile(file.Path().c_str(), nullptr, XML_PARSE_HUGE);
    if (document == nullptr) return Failure("libxml2: cannot parse " + file.Path());
    RecordSink sink;
    const xmlNode* root = xmlDocGetRootElement(document);
    for (const xmlNode* record = root ? root->children : nullptr; record; record = record->next) {
        if (!IsElement(record, "JobResult")) continue;
        for (const xmlNode* field = record->children; field; field = field->next) {
            if (field->type != XML_ELEMENT_NODE) continue;
            const xmlNode* text = field->children;
            sink.Set(FieldOf(View(field->name)), text && text->type == XML_TEXT_NODE
                                                     ? View(text->content)
                                                     : std::string_view());
        }
        sink.Deliver();
    }
    xmlFreeDoc(document);
    return Success(sink.digest);
}

ReadResult ReadLibxml2Reader(const JobResultsFile& file) {
    xmlTextReaderPtr reader = xmlReaderForFile(file.Path().c_str(), nullptr, XML_PARSE_HUGE);
    if (reader == nullptr) return Failure("libxml2: cannot open " + file.Path());
    RecordSink sink;
    Field field = Field::kNone;
    std::string text;
    int status;
    while ((status = xmlTextReaderRead(reader)) == 1) {
        switch (xmlTextReaderNodeType(reader)) {
            case XML_READER_TYPE_ELEMENT:
                field = FieldOf(View(xmlTextReaderConstLocalName(reader)));
                text.clear();
                if (field != Field::kNone && xmlTextReaderIsEmptyElement(reader) == 1) {
                    sink.Set(field, {});
                    field = Field::kNone;
                }
                break;
            case XML_READER_TYPE_TEXT:
                if (field != Field::kNone) text += View(xmlTextReaderConstValue(reader));
                break;
            case XML_READER_TYPE_END_ELEMENT:
                if (field != Field::kNone) {
                    sink.Set(field, text);
                    field = Field::kNone;
                } else if (View(xmlTextReaderConstLocalName(reader)) == "JobResult") {
                    sink.Deliver();
                }
                break;
            default:
                break;
        }
    }
    xmlFreeTextReader(reader);
    if (status != 0) return Failure("libxml2 reader: parse error in " + file.Path());
    return Success(sink.digest);
}

// The floor: the file in large blocks and one memchr pass that finds every
// "<", the least any reader of this format has to do.
ReadResult ReadFloor(const JobResultsFile& file) {
    const int fd = ::open(file.Path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Failure("cannot open " + file.Path());
    std::unique_ptr<char[]> block(new char[kBlock]);
    Digest digest;
    for (;;) {
        const ssize_t count = ::read(fd, block.get(), kBlock);
        if (count <= 0) break;
        const char* at = block.get();
        const char* const end = at + count;
        while ((at = static_cast<const char*>(
                    std::memchr(at, '<', static_cast<std::size_t>(end - at))))) {
            ++digest.records;
            ++at;
        }
    }
    ::close(fd);
    return Success(digest);
}

}  // namespace

const std::vector<Reader>& AllReaders() {
    static const std::vector<Reader> readers = {
        Reader::kOurs,        Reader::kOursStream,    Reader::kOursStrict,
        Reader::kPugixml,     Reader::kRapidxml,      Reader::kExpat,
        Reader::kLibxml2Tree, Reader::kLibxml2Reader, Reader::kFloor};
    return readers;
}

const char* ReaderName(Reader reader) {
    switch (reader) {
        case Reader::kOurs:
            return "cijobresults";
        case Reader::kOursStream:
            return "JobResultsReader";
        case Reader::kOursStrict:
            return "JobResultsReader-strict";
        case Reader::kPugixml:
            return "pugixml";
        case Reader::kRapidxml:
            return "rapidxml";
        case Reader::kExpat:
            return "expat";
        case Reader::kLibxml2Tree:
            return "libxml2-tree";
        case Reader::kLibxml2Reader:
            return "libxml2-reader";
        case Reader::kFloor:
            return "floor";
    }
    return "?";
}

bool ReaderByName(const std::string& name, Reader& reader) {
    for (const Reader candidate : AllReaders()) {
        if (name == ReaderName(candidate)) {
            reader = candidate;
            return true;
        }
    }
    return false;
}

ReadResult ReadAll(Reader reader, const JobResultsFile& file) {
    switch (reader) {
        case Reader::kOurs:
            return ReadOurs(file);
        case Reader::kOursStream:
            return ReadOursStream(file);
        case Reader::kOursStrict:
            return ReadOursStream(file, true);
        case Reader::kPugixml:
            return ReadPugixml(file);
        case Reader::kRapidxml:
            return ReadRapidxml(file);
        case Reader::kExpat:
            return ReadExpat(file);
        case Reader::kLibxml2Tree:
            return ReadLibxml2Tree(file);
        case Reader::kLibxml2Reader:
            return ReadLibxml2Reader(file);
        case Reader::kFloor:
            return ReadFloor(file);
    }
    return Failure("unknown reader");
}

std::uint64_t ExpectedFloorCount(std::uint64_t count) {
    std::uint64_t tags = 0;
    for (const char c : FileHeader()) tags += c == '<';
    for (std::uint64_t i = 0; i < count; ++i) {
        tags += 2u + 8u + (MakeRecord(i).ErrorString.empty() ? 1u : 2u);
    }
    return tags + 1;
}

}  // namespace bench
