#pragma once

#include "CommandLine.h"
#include "ConsoleStreams.h"

namespace vantorel {

// --history and --changes: reads the history file and prints a domain's runs, or a run's
// changes against its predecessor. Returns the exit status.
int ShowHistory(const CommandLine &line, const QString &historyFile, ConsoleStreams &streams);

// --copy-history FROM TO: copies one history into another and says how much on standard output,
// "已复制：检测 N 次，网页 N 行，链接 N 条"; a copy that fails or is refused says why on standard error
// and exits with 1. Returns the exit status.
int CopyHistoryCommand(const CommandLine &line, ConsoleStreams &streams);

// --prune [DOMAIN] --keep DAYS: deletes the old runs that hold nothing new and gives the space
// back; says how many on standard output. Returns the exit status.
int PruneCommand(const CommandLine &line, const QString &historyFile, ConsoleStreams &streams);
// --forget DOMAIN ADDRESS: re-checks pass the address by until a search or a list names it
// again. An address the history does not know is a usage error. Returns the exit status.
int ForgetCommand(const CommandLine &line, const QString &historyFile, ConsoleStreams &streams);

// --disavow DOMAIN [--rows …]: the disavow file of the site's known links on standard output;
// a file the search console would refuse is refused, with why, on standard error (exit 1).
// --expect DOMAIN ADDRESS: sets or clears the link agreed for the address, and says what it is now.
int ExpectCommand(const CommandLine &line, const QString &historyFile, ConsoleStreams &streams);
int DisavowCommand(const CommandLine &line, const QString &historyFile, ConsoleStreams &streams);

// "无法读取历史记录：<reason>"
QString HistoryReadFailureText(const QString &reason);

} // namespace vantorel
