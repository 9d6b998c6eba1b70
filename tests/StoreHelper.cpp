// A second program writing the history file, for the tests that need another process:
//   runs FILE COUNT ROWS TAG   writes COUNT completed runs of ROWS rows
//   hang FILE DONE ROWS        writes DONE completed runs, then one that never ends: says
//                              "ready" once ROWS of its rows are written and goes on writing
//   save FILE [--max-pages N] [--as-nobody]
//                              writes two runs of 20 long rows
// Prints each failure the writer reports, one a line.

#include "HistorySamples.h"

#include <HistoryWriter.h>

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <grp.h>
#include <unistd.h>

using namespace vantorel;

namespace {

const QString kDomain = QStringLiteral("example.com");

void WriteRun(HistoryWriter &writer, const QString &tag, int rows, int addressLength = 0)
{
    const HistoryWriter::Ticket run = writer.BeginRun(kDomain, RunSource::Search, QDateTime::currentDateTime());
    for (int i = 1; i <= rows; ++i)
        writer.SaveRow(run, SampleRow(i, QStringLiteral("https://%1.example.org/page/%2").arg(tag).arg(i),
                                      StoredOutcome::PassesWeight, addressLength));
    writer.EndRun(run, RunOutcome::Completed, QStringLiteral("约%1个").arg(rows));
}

// Root reads and writes any file: the permission cases run as nobody.
bool DropPrivileges()
{
    return geteuid() != 0 || (setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 2;
    const QString mode = args[1];
    OpenOptions options;
    if (const qsizetype at = args.indexOf(QStringLiteral("--max-pages")); at > 0 && at + 1 < args.size())
        options.maxPageCount = args[at + 1].toLongLong();
    if (args.contains(QStringLiteral("--as-nobody")) && !DropPrivileges())
        return 3;

    HistoryWriter writer(args[2], options);
    QObject::connect(&writer, &HistoryWriter::Failed, [](const QString &reason) {
        std::printf("%s\n", reason.toUtf8().constData());
        std::fflush(stdout);
    });
    if (mode == QLatin1String("runs") && args.size() == 6) {
        for (int i = 0; i < args[3].toInt(); ++i)
            WriteRun(writer, args[5] + QString::number(i), args[4].toInt());
    } else if (mode == QLatin1String("hang") && args.size() == 5) {
        const int rows = args[4].toInt();
        for (int i = 0; i < args[3].toInt(); ++i)
            WriteRun(writer, QStringLiteral("done%1").arg(i), rows);
        const HistoryWriter::Ticket run = writer.BeginRun(kDomain, RunSource::Search, QDateTime::currentDateTime());
        for (int i = 1;; ++i) {
            writer.SaveRow(run, SampleRow(i, QStringLiteral("https://killed.example.org/page/%1").arg(i)));
            if (i % rows == 0)
                writer.WaitUntilWritten();
            if (i == rows) {
                std::printf("ready\n");
                std::fflush(stdout);
            }
        }
    } else if (mode == QLatin1String("save")) {
        WriteRun(writer, QStringLiteral("first"), 20, 1000);
        WriteRun(writer, QStringLiteral("second"), 20, 1000);
    } else {
        return 2;
    }
    writer.WaitUntilWritten();
    QCoreApplication::processEvents(); // the failures arrive on this thread
    return 0;
}
