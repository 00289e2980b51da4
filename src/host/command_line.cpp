#include "host/command_line.h"

namespace {

bool AtOrBelowSpace(char c) { return static_cast<unsigned char>(c) <= ' '; }

void SkipSpaces(const std::string& s, std::size_t* i) {
    while (*i < s.size() && s[*i] == ' ') ++*i;
}

// Consecutive digits; none give 0. Window ids are 32-bit, so a longer number
// stays at a value that names no window instead of overflowing into one that does.
unsigned long ReadNumber(const std::string& s, std::size_t* i) {
    unsigned long value = 0;
    while (*i < s.size() && s[*i] >= '0' && s[*i] <= '9') {
        value = value * 10 + static_cast<unsigned long>(s[*i] - '0');
        if (value > 0xFFFFFFFFul) value = 0xFFFFFFFFul;
        ++*i;
    }
    return value;
}

}  // namespace

std::size_t ArgumentsStart(const std::string& s) {
    std::size_t i = 0;
    if (i < s.size() && s[i] == '"') {
        ++i;
        while (i < s.size() && s[i] != '"') ++i;
        if (i < s.size()) ++i;  // the closing quote
    } else {
        while (i < s.size() && !AtOrBelowSpace(s[i])) ++i;
    }
    while (i < s.size() && AtOrBelowSpace(s[i])) ++i;
    return i;
}

ParsedCommandLine ParseCommandLine(const std::string& s) {
    std::size_t i = ArgumentsStart(s);

    for (;; ++i) {
        if (i >= s.size()) return {RunMode::Settings, 0, true};
        char c = s[i];
        switch (c) {
        case ' ':
        case '-':
        case '/':
            continue;
        case 'c':
        case 'C': {
            ParsedCommandLine result{RunMode::Settings, 0};
            if (i + 1 < s.size() && s[i + 1] == ':') {
                i += 2;
                result.window = ReadNumber(s, &i);
            }
            return result;
        }
        case 's':
        case 'S':
            return {RunMode::Saver, 0};
        case 'p':
        case 'P':
        case 'l':
        case 'L':
            ++i;
            SkipSpaces(s, &i);
            return {RunMode::Preview, ReadNumber(s, &i)};
        case 'a':
        case 'A':
            ++i;
            SkipSpaces(s, &i);
            return {RunMode::ChangePassword, ReadNumber(s, &i)};
        default:
            return {RunMode::Refused, 0};
        }
    }
}

std::string JoinCommandLine(int argc, char** argv) {
    std::string line = "\"";
    line += argc > 0 ? argv[0] : "kaleidra";
    line += "\"";
    for (int i = 1; i < argc; ++i) {
        line += ' ';
        line += argv[i];
    }
    return line;
}
