#include "jrtool/ReportSource.h"

namespace jrtool {

namespace {

bool HostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_' || c == ':';
}

}  // namespace

ReportSource ParseReportSource(const std::string& argument) {
    const std::size_t equals = argument.find('=');
    if (equals == std::string::npos) return {"", argument};
    if (equals == 0) return {"", argument.substr(1)};
    for (std::size_t i = 0; i < equals; ++i) {
        if (!HostCharacter(argument[i])) return {"", argument};
    }
    return {argument.substr(0, equals), argument.substr(equals + 1)};
}

}  // namespace jrtool
