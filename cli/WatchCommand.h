#pragma once

#include "CommandLine.h"
#include "ConsoleStreams.h"

#include <BacklinkAnalysis.h>

namespace vantorel {

// --watch, --unwatch and --watched: the watch list in the history file. Returns the exit status.
int RunWatchCommand(const CommandLine &line, const QString &historyFile, ConsoleStreams &streams);

// --recheck-due: claims each watched domain whose re-check is due, one after another, and
// re-checks it as --recheck --fail-on-lost would. Returns the worst status of them.
int RecheckDue(const CommandLine &line, const QString &historyFile, ConsoleStreams &streams,
               const AnalysisSettings &settings);

} // namespace vantorel
