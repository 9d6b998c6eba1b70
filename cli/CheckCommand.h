#pragma once

#include "CommandLine.h"

#include <BacklinkAnalysis.h>

namespace vantorel {

// Exit statuses of a check from the command line.
enum ExitStatus : int {
    kExitCompleted = 0,
    kExitOutputFailed = 1, // or the history could not be read
    kExitUsage = 2,
    kExitEngineUnreachable = 3,
    kExitEngineRefused = 4,
    kExitLinksLost = 5,    // --fail-on-lost
    kExitCannotJudge = 6,  // --fail-on-lost, when the history or the pages cannot tell
    kExitInterrupted = 130,
};

// Runs vantorel --check or --recheck with the run, parse and check code of the window, without
// a display, and keeps the run in the history: results on standard output, progress on standard
// error. --history and --changes read the history instead. Needs a QCoreApplication; settings
// carries what the command line does not set (the engine's host).
int RunCheck(const CommandLine &line, AnalysisSettings settings = {});

} // namespace vantorel
