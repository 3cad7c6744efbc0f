#include "jrtool/Exposition.h"

#include <algorithm>
#include <cctype>

#include "jrtool/Text.h"

namespace jrtool {

std::string LabelValue(const std::string& bytes) {
    return ReplaceBytes(ToValidUtf8(bytes), "\\\"\n", {"\\\\", "\\\"", "\\n"});
}

void Exposition::Family(const std::string& name, const std::string& help, const std::string& type) {
    m_text += "# HELP " + name + ' ' + ReplaceBytes(help, "\\\n", {"\\\\", "\\n"}) + "\n# TYPE " +
              name + ' ' + type + '\n';
}

void Exposition::AppendLabels(const Labels& labels, bool& first) {
    for (const auto& [key, value] : labels) {
        m_text += first ? '{' : ',';
        first = false;
        m_text += key + "=\"" + LabelValue(value) + '"';
    }
}

void Exposition::Sample(const std::string& name, const Labels& labels, const std::string& value) {
    m_text += name;
    bool first = true;
    AppendLabels(labels, first);
    AppendLabels(m_constant, first);
    if (!first) m_text += '}';
    m_text += ' ' + value + '\n';
}

namespace {

bool IsLabelName(const std::string& name) {
    const auto letter = [](char c) {
        return c == '_' || std::isalpha(static_cast<unsigned char>(c));
    };
    if (name.empty() || !letter(name[0]) || name.compare(0, 2, "__") == 0) return false;
    return std::all_of(name.begin(), name.end(), [&](char c) {
        return letter(c) || std::isdigit(static_cast<unsigned char>(c));
    });
}

}  // namespace

bool ParseConstantLabels(const std::vector<std::string>& given,
                         const std::vector<std::string>& taken,
                         std::vector<std::pair<std::string, std::string>>& labels,
                         std::string& fault) {
    std::vector<std::string> names = taken;
    for (const std::string& item : given) {
        const auto equals = item.find('=');
        const std::string key = item.substr(0, equals);
        if (equals == std::string::npos || !IsLabelName(key)) {
            fault = "'" + item + "' is not KEY=VALUE with a label name as KEY";
            return false;
        }
        if (std::find(names.begin(), names.end(), key) != names.end()) {
            fault = "the label " + key + " is given twice or is one of the metrics' own";
            return false;
        }
        names.push_back(key);
        labels.emplace_back(key, item.substr(equals + 1));
    }
    return true;
}

}  // namespace jrtool
