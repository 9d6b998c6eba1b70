#pragma once

#include <Mail.h>
#include <PageRendering.h>

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
    Watch,   // --watch: re-check the domain on a schedule
    Unwatch, // --unwatch
    Watched, // --watched: lists the watch list; no domain
    RecheckDue, // --recheck-due: re-checks every watched domain whose time has come; no domain
    CopyHistory, // --copy-history FROM TO: one history into another
    Prune,       // --prune [DOMAIN] --keep DAYS: deletes old runs that hold nothing new
    Forget,      // --forget DOMAIN ADDRESS: no longer re-checks the address
    Monitor,     // no option: each site of --recheck-due, searched and its known addresses re-checked
    Report,      // --report [DOMAIN…]: the sites' counts and changes over a period
    Disavow,     // --disavow DOMAIN: a file of links for the search console to disavow
    Expect,      // --expect DOMAIN ADDRESS: the link agreed for the address
};

// Which of a site's known links --disavow lists, by what its latest check that could be had found.
enum class DisavowRows { All, Removed, Nofollow };

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
    bool html = false;                    // --format html, which only --report writes
    std::optional<int> jobs;              // --jobs; else each kind of run has its default
    std::optional<int> timeoutSeconds;
    std::optional<int> retries;           // --retries
    bool notify = true;                   // not with --no-notify
    QStringList notifyUrls;               // --notify-url, any number
    MailSettings mail;                    // --smtp, --mail-from, --mail-to (any number)
    QStringList reportDomains;            // --report's; none: every site
    qint64 sinceSeconds = 7 * 24 * 3600;  // --since
    int everyHours = 24;                  // --every, for --watch
    int confirmChecks = 1;                // --confirm: checks in a row that confirm a loss
    int workers = 1;                      // --workers: due sites re-checked at once
    std::optional<RenderMode> render;     // --render
    bool checkTargets = true;             // not with --no-target-check

    // A command that runs without the window.
    bool Headless() const
    {
        return checkDomain || command == Command::Watched || command == Command::RecheckDue
               || command == Command::CopyHistory || command == Command::Report || command == Command::Prune
               || command == Command::Forget || command == Command::Disavow || command == Command::Expect;
    }
    QString copyFrom, copyTo;             // --copy-history FROM TO
    bool merge = false;                   // --merge: into a history that holds runs
    std::optional<int> keepDays;          // --keep, for --prune
    QString forgetAddress;                // --forget DOMAIN ADDRESS, --expect DOMAIN ADDRESS
    std::optional<QString> expectTarget, expectAnchor; // --target, --anchor, for --expect
    bool expectFollow = false;            // --follow, for --expect
    bool expectFromFirst = false;         // --expect-from-first: the links first found are what was agreed
    DisavowRows disavowRows = DisavowRows::All; // --rows, for --disavow
};

// The longest interval --every takes: a year.
inline constexpr int kMostWatchHours = 24 * 366;
// The longest --keep: a century.
inline constexpr int kMostKeepDays = 36500;
// The most due sites one process re-checks at once.
inline constexpr int kMostWorkers = 16;
// How long a due re-check's claim lasts past the page time-out, unless VANTOREL_CLAIM_MARGIN
// gives seconds; the worker renews it while it works.
inline constexpr int kClaimMarginSeconds = 600;

// Reads the arguments (program name first). The format defaults to a table when standard
// output is a terminal, to tab-separated values otherwise.
CommandLine ParseCommandLine(const QStringList &arguments, bool outputIsTerminal);
// The --help text, written from the same option list the parser reads.
QString HelpText();
QString VersionText();

} // namespace vantorel
