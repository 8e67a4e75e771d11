// The command line the project's tools share: their own options, `--help` (the usage on standard
// output, status 0), `--version` (the project's version, status 0), `--` ending the options, and
// a usage error for anything else that starts with `-` or a wrong count of operands (the reason
// and the usage on standard error, status 2). A lone `-` is an operand.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TToolOption {
    std::string_view Name; // "--meshes"; no option takes a value
    std::string_view Help;
};

// What the usage shows: "usage: NAME SYNOPSIS", the description, and the options, --help and
// --version last.
struct TToolSyntax {
    std::string_view Name;
    std::string_view Synopsis;
    std::string_view Description;
    std::vector<TToolOption> Options = {};
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
