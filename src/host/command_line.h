// The screen-saver command line: which mode to run and the window it names.
#pragma once

#include <string>

enum class RunMode { Settings, Saver, Preview, ChangePassword, Refused };

struct ParsedCommandLine {
    RunMode mode = RunMode::Refused;
    unsigned long window = 0;  // owner (settings, password) or parent (preview); 0 when none was given
    bool ownerless = false;    // settings asked for by an empty command line: no owner at all
};

// Reads the whole command line, program name included. Whether a named window
// exists, and the platform's answer for the password mode, are the caller's.
ParsedCommandLine ParseCommandLine(const std::string& commandLine);

// Where the arguments begin, after the program name and the blanks behind it.
std::size_t ArgumentsStart(const std::string& commandLine);

// The command line as one string, as the system would have passed it.
std::string JoinCommandLine(int argc, char** argv);
