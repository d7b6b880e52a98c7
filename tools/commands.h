// The tool's commands. Each takes the arguments after its name and returns
// the process exit status.
#pragma once

#include <string>
#include <vector>

#include "line_io.h"
#include "progress.h"

namespace iffjpeg_cli {

enum ExitStatus {
  kExitOk = 0,
  kExitFailure = 1,  // nothing (or nothing complete) was produced
  kExitUsage = 2,    // bad command line
  kExitDamaged = 3,  // output written, but the JPEG data was damaged (code 10)
};

using Args = std::vector<std::string>;

int RunInfo(const Args& args);
int RunDecode(const Args& args);
int RunEncode(const Args& args);
int RunCompare(const Args& args);
int RunChart(const Args& args);

// Prints "iffjpeg COMMAND: MESSAGE" and a pointer to the help; returns kExitUsage.
int UsageError(const std::string& command, const std::string& message);

bool IsHelp(const std::string& arg);

// Matches args[*i] against an option taking a value, written "--name VALUE"
// or "--name=VALUE". Returns 0 when it is another argument, 1 with *value
// set (and *i moved past the value), -1 when the value is missing.
int MatchOption(const Args& args, std::size_t* i, const std::string& name, std::string* value);

// True for arguments that look like options ("-x", "--xyz"), not for "-".
bool IsOption(const std::string& arg);

// Parses a whole decimal number in [min, max].
bool ParseInt(const std::string& text, int32_t min, int32_t max, int32_t* value);

// Copies every line of source into sink, converting to sinkChannels. On
// failure, *sourceFailed tells which side failed.
Status CopyLines(LineSource& source, LineSink& sink, int32_t sinkChannels, Progress* progress,
                 bool* sourceFailed);

// True when both names lead to one existing file (writing OUT would destroy IN).
bool SameFile(const std::string& a, const std::string& b);

// Reports the damage warning for a source whose data ended early.
void ReportDamage(const std::string& file);

}  // namespace iffjpeg_cli
