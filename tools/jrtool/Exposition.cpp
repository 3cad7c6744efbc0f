#include "jrtool/Exposition.h"

#include "jrtool/Text.h"

namespace jrtool {

std::string LabelValue(const std::string& bytes) {
    return ReplaceBytes(ToValidUtf8(bytes), "\\\"\n", {"\\\\", "\\\"", "\\n"});
}

void Exposition::Family(const std::string& name, const std::string& help, const std::string& type) {
    m_text += "# HELP " + name + ' ' + ReplaceBytes(help, "\\\n", {"\\\\", "\\n"}) + "\n# TYPE " +
              name + ' ' + type + '\n';
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
