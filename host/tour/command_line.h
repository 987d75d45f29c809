// The command line of the tools: their own flags, --help, --version, "--"
// (end of options) and operands, parsed the way command-line tools are:
// a wrong option or a missing operand is exit status 2, with the usage on
// stderr.
#pragma once

#include <cstdio>
#include <cstring>
#include <functional>
#include <variant>
#include <string_view>
#include <vector>

#include "lumadex/host/host.h"

namespace lumadex::tools {

struct CommandLine {
    const char* program;                                  // "lumadex-dm"
    void (*print_usage)(std::FILE* out);
    std::function<bool(std::string_view flag)> own_flag;  // true when the tool takes `flag`
    int most_operands = -1;                               // -1: any number
};

// The operands, or the exit status when the tool is to stop now (0 after
// --help or --version, 2 for wrong usage).
inline std::variant<std::vector<const char*>, int> parse(const CommandLine& line, int argc, char** argv)
{
    std::vector<const char*> operands;
    bool options = true;
    auto wrong = [&](const char* what, const char* arg) {
        std::fprintf(stderr, "%s: %s%s\n", line.program, what, arg ? host::printable_text(arg).c_str() : "");
        line.print_usage(stderr);
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options && std::strcmp(arg, "--") == 0) {
            options = false;
        } else if (options && std::strcmp(arg, "--help") == 0) {
            line.print_usage(stdout);
            return 0;
        } else if (options && std::strcmp(arg, "--version") == 0) {
            std::printf("%s %s\n", line.program, LUMADEX_VERSION);
            return 0;
        } else if (options && arg[0] == '-' && arg[1] != '\0') {
            if (!line.own_flag || !line.own_flag(arg)) return wrong("unknown option ", arg);
        } else if (line.most_operands >= 0 && static_cast<int>(operands.size()) == line.most_operands) {
            return wrong("too many operands, from ", arg);
        } else {
            operands.push_back(arg);
        }
    }
    return operands;
}

}  // namespace lumadex::tools
