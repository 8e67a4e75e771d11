// The command line the project's tools share: their own options, `--help` (the usage on standard
// output, status 0), `--version` (the project's version, status 0), `--` ending the options, and
// a usage error for anything else that starts with `-` or a wrong count of operands (the reason
// and the usage on standard error, status 2). A lone `-` is an operand.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TToolSyntax {
    std::string_view Name;
    // The usage, starting with its "usage: NAME ..." line, ending with a newline.
    std::string_view Usage;
    // The options the tool takes besides --help and --version; none take a value.
    std::vector<std::string_view> Options;
    int Operands = 1;
};

struct TToolCommand {
    // Set when the command line has been answered (help, version, usage error): the tool exits
    // with it and does nothing else.
    std::optional<int> ExitStatus;
    std::vector<std::string> Options;
    std::vector<std::string> Operands;

    bool Has(std::string_view option) const;
};

TToolCommand ParseToolCommand(const TToolSyntax& syntax, int argc, const char* const* argv);
