#pragma once

#include "CommandLine.h"
#include "ConsoleStreams.h"

namespace vantorel {

// --history and --changes: reads the history file and prints a domain's runs, or a run's
// changes against its predecessor. Returns the exit status.
int ShowHistory(const CommandLine &line, const QString &historyFile, ConsoleStreams &streams);

// "无法读取历史记录：<reason>"
QString HistoryReadFailureText(const QString &reason);

} // namespace vantorel
