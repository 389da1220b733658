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
    if (count.empty() || count.size() > 2 || count.find_first_not_of("0123456789") != std::string::npos) return problem;
    const int n = std::stoi(count);
    if (n < 1 || n > CSearch::kMaxConnections) return problem;
    options.connections = n;
    return std::string();
}

// A size in bytes, or with K, M or G (1024 apiece; "KiB", "MB" and the like read the same).
std::string TakeMaxMemory(const std::string& size, RunnerOptions& options) {
    const std::string problem = "--max-memory takes a size such as 512M or 2G";
    std::size_t digits = 0;
    while (digits < size.size() && size[digits] >= '0' && size[digits] <= '9') ++digits;
    if (digits == 0 || digits > 15) return problem;
    std::string unit = size.substr(digits);
    for (char& c : unit) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    std::size_t factor = 1;
    if (!unit.empty() && unit != "B") {
        const std::string rest = unit.substr(1);
        if (rest != "" && rest != "B" && rest != "IB") return problem;
        switch (unit[0]) {
            case 'K': factor = std::size_t{1} << 10; break;
            case 'M': factor = std::size_t{1} << 20; break;
            case 'G': factor = std::size_t{1} << 30; break;
            default: return problem;
        }
    }
    const std::size_t value = std::stoull(size.substr(0, digits));
    if (value == 0 || value > (std::size_t{1} << 50) / factor) return problem;
    options.limits.maxMemoryBytes = value * factor;
    return std::string();
}

std::string TakeMaxPages(const std::string& count, RunnerOptions& options) {
    const std::string problem = "--max-pages takes a number from 1 to 2000000000";
    if (count.empty() || count.size() > 10 || count.find_first_not_of("0123456789") != std::string::npos)
        return problem;
    const long long n = std::stoll(count);
    if (n < 1 || n > 2'000'000'000) return problem;
    options.limits.maxPages = static_cast<std::int32_t>(n);
    return std::string();
}

// New options with a value go here; the loop below does the rest.
constexpr ValueOption kValueOptions[] = {
    {"--export", "FILE", TakeExport},
    {"--connections", "N", TakeConnections},
    {"--max-memory", "SIZE", TakeMaxMemory},
    {"--max-pages", "N", TakeMaxPages},
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
        if (arg.size() > option.name.size() && arg.starts_with(option.name) && arg[option.name.size()] == '=') {
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
        if (arg == "--ignore-robots") {
            result.options.obeyRobots = false;
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
