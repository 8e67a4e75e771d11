#include "tools/ToolCommandLine.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

constexpr int UsageError = 2;
// Where the options' help starts, after two spaces and the option.
constexpr size_t HelpColumn = 13;

const TToolOption HelpOption{"--help", "print this help and exit"};
const TToolOption VersionOption{"--version", "print the version and exit"};

std::string Usage(const TToolSyntax& syntax) {
    std::string usage = "usage: ";
    usage.append(syntax.Name).append(" ").append(syntax.Synopsis).append("\n");
    usage.append(syntax.Description).append("\n\n");
    std::vector<TToolOption> options = syntax.Options;
    options.push_back(HelpOption);
    options.push_back(VersionOption);
    for (const TToolOption& option : options) {
        const size_t width = 2 + option.Name.size();
        usage.append("  ").append(option.Name);
        usage.append(width < HelpColumn ? HelpColumn - width : 1, ' ');
        usage.append(option.Help).append("\n");
    }
    return usage;
}

std::optional<int> PrintUsage(const TToolSyntax& syntax) {
    std::fputs(Usage(syntax).c_str(), stdout);
    return 0;
}

std::optional<int> PrintVersion(const TToolSyntax& syntax) {
    std::printf("%.*s (skyview) %s\n", int(syntax.Name.size()), syntax.Name.data(),
                SKYVIEW_VERSION);
    return 0;
}

std::optional<int> RejectUsage(const TToolSyntax& syntax, const std::string& reason) {
    std::fprintf(stderr, "%.*s: %s\n", int(syntax.Name.size()), syntax.Name.data(), reason.c_str());
    std::fputs(Usage(syntax).c_str(), stderr);
    return UsageError;
}

bool Takes(const TToolSyntax& syntax, std::string_view option) {
    return std::any_of(syntax.Options.begin(), syntax.Options.end(),
                       [&](const TToolOption& known) { return known.Name == option; });
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
    if (!Takes(syntax, option))
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
