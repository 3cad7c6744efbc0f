#include "jrtool/Exposition.h"

#include "jrtool/Output.h"

namespace jrtool {

namespace {

constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD";

// HELP text escapes backslash and newline only.
std::string HelpText(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

}  // namespace

std::string Utf8WithReplacement(const std::string& bytes) {
    return RepairUtf8(bytes, [](unsigned char, std::string& out) { out += kReplacementCharacter; });
}

std::string LabelValue(const std::string& bytes) {
    std::string value;
    for (char c : Utf8WithReplacement(bytes)) {
        if (c == '\\' || c == '"') {
            value += '\\';
            value += c;
        } else if (c == '\n') {
            value += "\\n";
        } else {
            value += c;
        }
    }
    return value;
}

void Exposition::Family(const std::string& name, const std::string& help, const std::string& type) {
    m_text += "# HELP " + name + ' ' + HelpText(help) + "\n# TYPE " + name + ' ' + type + '\n';
}

void Exposition::Sample(const std::string& name, const Labels& labels, const std::string& value) {
    m_text += name;
    if (!labels.empty()) {
        m_text += '{';
        for (std::size_t i = 0; i < labels.size(); ++i) {
            if (i > 0) m_text += ',';
            m_text += labels[i].first + "=\"" + LabelValue(labels[i].second) + '"';
        }
        m_text += '}';
    }
    m_text += ' ' + value + '\n';
}

}  // namespace jrtool
