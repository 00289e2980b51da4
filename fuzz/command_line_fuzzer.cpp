// The command line as the system hands it over: any bytes at all. A NUL in
// the input separates the arguments that JoinCommandLine puts together.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/command_line.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

bool Same(const ParsedCommandLine& a, const ParsedCommandLine& b) {
    return a.mode == b.mode && a.window == b.window && a.ownerless == b.ownerless;
}

// What every answer must satisfy, whatever the line held.
void CheckAnswer(const ParsedCommandLine& parsed) {
    Require(parsed.window <= 0xFFFFFFFFul);
    if (parsed.ownerless) Require(parsed.mode == RunMode::Settings && parsed.window == 0);
    if (parsed.mode == RunMode::Saver || parsed.mode == RunMode::Refused) Require(parsed.window == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    CheckAnswer(ParseCommandLine(line));

    // Only the arguments count: the program's own name, however it is
    // spelled, must not change the mode.
    std::vector<std::string> args;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == '\0') {
            args.push_back(line.substr(start, i - start));
            start = i + 1;
        }
    }
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    const ParsedCommandLine joined = ParseCommandLine(JoinCommandLine(static_cast<int>(argv.size()), argv.data()));
    CheckAnswer(joined);
    std::string plainName = "kaleidra";
    argv[0] = plainName.data();
    const ParsedCommandLine plain = ParseCommandLine(JoinCommandLine(static_cast<int>(argv.size()), argv.data()));
    // A name with a quote in it cannot be quoted on one line; the system
    // never passes one that way.
    if (args[0].find('"') == std::string::npos) Require(Same(joined, plain));
    return 0;
}
