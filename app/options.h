// Start-up: the command line, the banner and the usage text.
#pragma once

#include <string>

namespace quillo {

// What the option parser decided.
enum class ParseResult { kRun, kExitFailure, kExitSuccess };

// Writes the usage text to standard error.
void PrintUsage();

// True when any argument asks for help ("-?", "/?", "-help", "/HELP", "--help").
bool HelpRequested(int argc, char** argv);

// Reads the options into GetJobOptions() (and passwd/headlist of Settings),
// writing the option messages as it goes. The `mime` option runs its import
// through `importMime` and ends the parse with kExitSuccess.
ParseResult ParseOptions(int argc, char** argv, void (*importMime)(const std::string& file));

// The whole program: returns the exit status.
int RunQuillo(int argc, char** argv);

}  // namespace quillo
