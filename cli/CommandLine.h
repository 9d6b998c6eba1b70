#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace vantorel {

enum class OutputFormat { Table, Tsv, Csv, Json };

// What a command line without a window does with its domain.
enum class Command {
    Check,   // --check: asks the engine, or reads --urls
    Recheck, // --recheck: the addresses the history knows as once 有效
    History, // --history: lists the domain's runs
    Changes, // --changes: a run's changes against its predecessor
    CopyHistory, // --copy-history FROM TO: one history into another
};

// What the command line asks for. Without a domain or a copy, the window opens.
struct CommandLine {
    bool help = false;
    bool version = false;
    QString error;                        // a usage error, in words for standard error
    Command command = Command::Check;
    std::optional<QString> checkDomain;   // the domain of any command
    std::optional<QString> urlsFile;      // --urls; "-" is standard input
    std::optional<QString> historyFile;   // --db
    bool storeRun = true;                 // not with --no-history
    bool failOnLost = false;
    std::optional<qint64> runId;          // --run, for --changes
    OutputFormat format = OutputFormat::Tsv;
    std::optional<int> jobs;              // --jobs; else each kind of run has its default
    std::optional<int> timeoutSeconds;
    std::optional<int> retries;           // --retries
    QString copyFrom, copyTo;             // --copy-history FROM TO
    bool merge = false;                   // --merge: into a history that holds runs
};

// Reads the arguments (program name first). The format defaults to a table when standard
// output is a terminal, to tab-separated values otherwise.
CommandLine ParseCommandLine(const QStringList &arguments, bool outputIsTerminal);
// The --help text, written from the same option list the parser reads.
QString HelpText();
QString VersionText();

} // namespace vantorel
