#include "app/RunnerOptions.h"

#include <set>
#include <string_view>

namespace {

// Takes an option's value into the options; returns the problem with it, or
// an empty text when the value is good.
using ValueTaker = std::string (*)(const std::string& value, RunnerOptions& options);

struct ValueOption {
    std::string_view name;       // "--export"
    std::string_view valueName;  // "FILE", as the help text calls it
    ValueTaker take;
};

std::string TakeExport(const std::string& file, RunnerOptions& options) {
    const std::optional<ExportFormat> format = ExportFormatFor(file);
    if (!format) return "the export file " + file + " must end in .txt, .csv or .json";
    options.exportFile = file;
    options.exportFormat = *format;
    return std::string();
}

std::string TakeConnections(const std::string& count, RunnerOptions& options) {
    const std::string problem = "--connections takes a number from 1 to " + std::to_string(CSearch::kMaxConnections);
    if (count.empty() || count.size() > 2 || count.find_first_not_of("0123456789") != std::string::npos)
        return problem;
    const int n = std::stoi(count);
    if (n < 1 || n > CSearch::kMaxConnections) return problem;
    options.connections = n;
    return std::string();
}

// New options with a value go here; the loop below does the rest.
constexpr ValueOption kValueOptions[] = {
    {"--export", "FILE", TakeExport},
    {"--connections", "N", TakeConnections},
};

RunnerCommandLine Bad(std::string problem) {
    RunnerCommandLine result;
    result.action = RunnerAction::BadUsage;
    result.problem = std::move(problem);
    return result;
}

const ValueOption* FindValueOption(std::string_view arg, std::optional<std::string>& inlineValue) {
    for (const ValueOption& option : kValueOptions) {
        if (arg == option.name) return &option;
        if (arg.size() > option.name.size() && arg.starts_with(option.name) &&
            arg[option.name.size()] == '=') {
            inlineValue = std::string(arg.substr(option.name.size() + 1));
            return &option;
        }
    }
    return nullptr;
}

}  // namespace

RunnerCommandLine ParseRunnerCommandLine(const std::vector<std::string>& args) {
    RunnerCommandLine result;
    std::vector<std::string> names;
    std::set<std::string_view> given;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            names.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            result.action = RunnerAction::ShowHelp;
            return result;
        }
        if (arg == "--version") {
            result.action = RunnerAction::ShowVersion;
            return result;
        }
        if (arg == "--fetch-stats") {
            result.options.fetchStats = true;
            continue;
        }
        std::optional<std::string> value;
        const ValueOption* option = FindValueOption(arg, value);
        if (option == nullptr) return Bad("unknown option " + arg);
        const std::string name(option->name);
        if (!given.insert(option->name).second) return Bad(name + " given twice");
        if (!value) {
            if (i + 1 == args.size()) return Bad(name + " needs " + std::string(option->valueName));
            value = args[++i];
        }
        if (std::string problem = option->take(*value, result.options); !problem.empty())
            return Bad(std::move(problem));
    }
    if (names.size() != 1) return Bad(names.empty() ? "no project name given" : "one project name only");
    if (names.front().empty()) return Bad("the project name is empty");
    result.options.projectName = names.front();
    result.action = RunnerAction::Run;
    return result;
}
