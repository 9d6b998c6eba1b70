#pragma once

#include "CommandLine.h"
#include "ConsoleStreams.h"

#include <Mail.h>
#include <PeriodReport.h>

namespace vantorel {

// The report as one self-contained web page: inline style, each site's counts over the period
// drawn as an inline SVG chart of its completed runs, and its changes.
QString ReportHtml(const PeriodReport &report);
// One site's chart: a line per outcome, a point per completed run naming it on hover, the
// counts' ticks at round values.
QString ReportChart(const SiteReport &site, const QDateTime &since, const QDateTime &until);

// The report by e-mail: the text as --format table writes it, and the page.
MailMessage ReportMail(const PeriodReport &report);

// vantorel --report: writes the report in the format asked for, and mails it with --mail-to.
int RunReport(const CommandLine &line, const QString &historyFile, ConsoleStreams &streams);

} // namespace vantorel
