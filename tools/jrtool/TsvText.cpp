#include "jrtool/TsvText.h"

namespace jrtool {

std::string EscapeTsvValue(const std::string& value) {
    std::string text;
    text.reserve(value.size());
    for (char c : value) {
        switch (c) {
            case '\\':
                text += "\\\\";
                break;
            case '\t':
                text += "\\t";
                break;
            case '\n':
                text += "\\n";
                break;
            case '\r':
                text += "\\r";
                break;
            default:
                text += c;
        }
    }
    return text;
}

namespace {

// The character an escape letter stands for, or 0 when it is no escape.
char EscapedCharacter(char letter) {
    switch (letter) {
        case '\\':
            return '\\';
        case 't':
            return '\t';
        case 'n':
            return '\n';
        case 'r':
            return '\r';
        default:
            return 0;
    }
}

}  // namespace

std::string UnescapeTsvValue(const std::string& text) {
    std::string value;
    value.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char escaped =
            text[i] == '\\' && i + 1 < text.size() ? EscapedCharacter(text[i + 1]) : 0;
        if (escaped != 0) {
            value += escaped;
            ++i;
        } else {
            value += text[i];
        }
    }
    return value;
}

std::vector<std::string> SplitTsvLine(const std::string& line) {
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == '\t') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

}  // namespace jrtool
