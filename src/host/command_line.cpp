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

// A window id as daemons write it: decimal, or hexadecimal after 0x.
// Whatever is not a whole number gives 0.
unsigned long ReadWindowId(const std::string& text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    unsigned long value = 0;
    for (std::size_t i = hex ? 2 : 0; i < text.size(); ++i) {
        const char c = text[i];
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return 0;
        value = value * (hex ? 16 : 10) + static_cast<unsigned long>(digit);
        if (value > 0xFFFFFFFFul) value = 0xFFFFFFFFul;
    }
    return text.empty() ? 0 : value;
}

std::string NextWord(const std::string& s, std::size_t* i) {
    SkipSpaces(s, i);
    const std::size_t start = *i;
    while (*i < s.size() && !AtOrBelowSpace(s[*i])) ++*i;
    return s.substr(start, *i - start);
}

// The daemons' spellings, with one dash or two. None of them begins with a
// letter the switches below know, so no older command line changes meaning.
bool ParseDaemonSwitch(const std::string& s, std::size_t i, ParsedCommandLine* result) {
    std::string word = NextWord(s, &i);
    if (word.starts_with("--")) word.erase(0, 1);
    if (word == "-root") {
        *result = {RunMode::Daemon, 0};
        return true;
    }
    if (word == "-window-id") {
        const unsigned long id = ReadWindowId(NextWord(s, &i));
        *result = id != 0 ? ParsedCommandLine{RunMode::Daemon, id} : ParsedCommandLine{RunMode::Refused, 0};
        return true;
    }
    return false;
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
    if (ParsedCommandLine daemon; ParseDaemonSwitch(s, i, &daemon)) return daemon;

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

ParsedCommandLine ApplyDaemonWindow(ParsedCommandLine parsed, const char* environmentWindow) {
    const unsigned long id = environmentWindow ? ReadWindowId(environmentWindow) : 0;
    if (id == 0) return parsed;
    if (parsed.mode == RunMode::Daemon && parsed.window == 0) parsed.window = id;
    if (parsed.mode == RunMode::Settings && parsed.ownerless) parsed = {RunMode::Daemon, id};
    return parsed;
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
