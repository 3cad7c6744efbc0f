// The Prometheus text exposition format (version 0.0.4), as the textfile
// collector of node_exporter reads it: metric families, each with its HELP
// and TYPE lines, then its samples.
#ifndef JRTOOL_EXPOSITION_H
#define JRTOOL_EXPOSITION_H

#include <string>
#include <utility>
#include <vector>

namespace jrtool {

// A label value as the format writes it between double quotes: the text of
// ToValidUtf8, the same as in JSON output, with backslash, double quote and
// newline escaped.
std::string LabelValue(const std::string& bytes);

// Labels given as KEY=VALUE, each KEY a label name the format allows
// ([a-zA-Z_][a-zA-Z0-9_]*, not starting with "__"), given once and none of
// `taken`. False with `fault` naming the first one refused.
bool ParseConstantLabels(const std::vector<std::string>& given,
                         const std::vector<std::string>& taken,
                         std::vector<std::pair<std::string, std::string>>& labels,
                         std::string& fault);

// Builds the text of one exposition, family by family.
class Exposition {
public:
    using Labels = std::vector<std::pair<std::string, std::string>>;

    // `constant` labels go on every sample, after the sample's own: what
    // keeps two expositions of one host apart in one textfile directory.
    explicit Exposition(Labels constant = {}) : m_constant(std::move(constant)) {}

    // Starts a family: its HELP and TYPE ("gauge", "counter") lines.
    void Family(const std::string& name, const std::string& help, const std::string& type);
    // A sample of the family begun last; label values are given as raw
    // bytes and written through LabelValue.
    void Sample(const std::string& name, const Labels& labels, const std::string& value);

    // A gauge family of one sample without labels.
    void Gauge(const std::string& name, const std::string& help, const std::string& value) {
        Family(name, help, "gauge");
        Sample(name, {}, value);
    }

    const std::string& Text() const { return m_text; }

private:
    void AppendLabels(const Labels& labels, bool& first);

    Labels m_constant;
    std::string m_text;
};

}  // namespace jrtool

#endif
