#pragma once
// The runner's command line: the project's name and the options around it.
#include <optional>
#include <string>
#include <vector>

#include "crawl/Search.h"
#include "results/Export.h"

struct RunnerOptions {
    std::string projectName;
    std::optional<std::string> exportFile;              // --export FILE
    ExportFormat exportFormat = ExportFormat::HitList;  // from exportFile's extension
    int connections = CSearch::kDefaultConnections;     // --connections N
    bool fetchStats = false;                            // --fetch-stats
    bool obeyRobots = true;                             // not --ignore-robots
    SearchLimits limits{DefaultMemoryCeiling(), 0};     // --max-memory SIZE, --max-pages N
};

enum class RunnerAction { Run, ShowHelp, ShowVersion, BadUsage };

struct RunnerCommandLine {
    RunnerAction action = RunnerAction::BadUsage;
    RunnerOptions options;  // complete only for Run
    std::string problem;    // why the usage is bad
};

// Reads the arguments after the program's name, in order: the first of
// --help, --version or a problem decides. Options take their value as the
// next argument or after "=" (--export=FILE); "--" ends the options.
RunnerCommandLine ParseRunnerCommandLine(const std::vector<std::string>& args);
