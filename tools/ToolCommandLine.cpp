#include "tools/ToolCommandLine.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int UsageError = 2;

std::optional<int> PrintUsage(const TToolSyntax& syntax) {
    std::fwrite(syntax.Usage.data(), 1, syntax.Usage.size(), stdout);
    return 0;
}

std::optional<int> PrintVersion(const TToolSyntax& syntax) {
    std::printf("%.*s (skyview) %s\n", int(syntax.Name.size()), syntax.Name.data(),
                SKYVIEW_VERSION);
    return 0;
}

std::optional<int> RejectUsage(const TToolSyntax& syntax, const std::string& reason) {
    std::fprintf(stderr, "%.*s: %s\n", int(syntax.Name.size()), syntax.Name.data(), reason.c_str());
    std::fwrite(syntax.Usage.data(), 1, syntax.Usage.size(), stderr);
    return UsageError;
}

bool IsOption(std::string_view argument) {
    return argument.size() > 1 && argument[0] == '-';
}

// Takes one option into the command; an exit status when the option answers the command line.
std::optional<int> TakeOption(const TToolSyntax& syntax, std::string_view option,
                              TToolCommand& command) {
    if (option == "--help")
        return PrintUsage(syntax);
    if (option == "--version")
        return PrintVersion(syntax);
    if (std::find(syntax.Options.begin(), syntax.Options.end(), option) == syntax.Options.end())
        return RejectUsage(syntax, "unknown option '" + std::string(option) + "'");
    command.Options.emplace_back(option);
    return std::nullopt;
}

} // namespace

bool TToolCommand::Has(std::string_view option) const {
    return std::find(Options.begin(), Options.end(), option) != Options.end();
}

TToolCommand ParseToolCommand(const TToolSyntax& syntax, int argc, const char* const* argv) {
    TToolCommand command;
    bool optionsEnded = false;
    for (int i = 1; i < argc && !command.ExitStatus; ++i) {
        const std::string_view argument = argv[i];
        if (!optionsEnded && argument == "--")
            optionsEnded = true;
        else if (!optionsEnded && IsOption(argument))
            command.ExitStatus = TakeOption(syntax, argument, command);
        else
            command.Operands.emplace_back(argument);
    }
    if (!command.ExitStatus && int(command.Operands.size()) != syntax.Operands)
        command.ExitStatus =
            RejectUsage(syntax, command.Operands.empty() ? std::string("missing operand")
                                                         : std::string("wrong number of operands"));
    return command;
}
