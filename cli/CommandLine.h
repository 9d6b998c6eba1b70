#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace vantorel {

enum class OutputFormat { Table, Tsv, Csv, Json };

// What the command line asks for. Without a domain to check, the window opens.
struct CommandLine {
    bool help = false;
    bool version = false;
    QString error;                        // a usage error, in words for standard error
    std::optional<QString> checkDomain;   // --check
    std::optional<QString> urlsFile;      // --urls; "-" is standard input
    std::optional<QString> historyFile;   // --db
    OutputFormat format = OutputFormat::Tsv;
    std::optional<int> jobs;              // --jobs; else each kind of run has its default
    std::optional<int> timeoutSeconds;
};

// Reads the arguments (program name first). The format defaults to a table when standard
// output is a terminal, to tab-separated values otherwise.
CommandLine ParseCommandLine(const QStringList &arguments, bool outputIsTerminal);
// The --help text, written from the same option list the parser reads.
QString HelpText();
QString VersionText();

} // namespace vantorel
