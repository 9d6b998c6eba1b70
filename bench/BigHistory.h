#pragma once

// A history file of 1,000 runs of 50 judged rows of one domain, for the store's and the
// window's benchmarks: written once per process, on first use.

#include "HistorySamples.h"

#include <HistoryWriter.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

namespace vantorel::bench {

inline const QString kDomain = QStringLiteral("example.com");
inline constexpr int kRuns = 1000, kRowsPerRun = 50;

inline QString Address(int n)
{
    return QStringLiteral("https://blog%1.example.org/2026/12/post-%2.html").arg(n % 300).arg(n);
}

// Consecutive runs list 48 of the same addresses; now and then a link is lost, loses its weight
// or its page cannot be had.
inline StoredOutcome OutcomeAt(int run, int n)
{
    switch ((run * 7 + n * 13) % 29) {
    case 0: return StoredOutcome::Removed;
    case 1: return StoredOutcome::Unreachable;
    case 2: return StoredOutcome::NoWeight;
    default: return StoredOutcome::PassesWeight;
    }
}

struct BigHistory {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("history.sqlite3"));
    qint64 lastRun = 0;
    double bytesPerRow = 0;
};

// Written once, on first use.
inline const BigHistory &Big()
{
    static BigHistory big;
    static const bool written = [](BigHistory *history) {
        {
            HistoryWriter writer(history->path);
            QObject::connect(&writer, &HistoryWriter::RunStored,
                             [history](HistoryWriter::Ticket, qint64 id) { history->lastRun = id; });
            for (int run = 0; run < kRuns; ++run) {
                const RunSource source = run % 10 == 9 ? RunSource::Recheck : RunSource::Search;
                const HistoryWriter::Ticket ticket = writer.BeginRun(kDomain, source, QDateTime::currentDateTime());
                for (int i = 0; i < kRowsPerRun; ++i) {
                    const int n = run * 2 + i;
                    writer.SaveRow(ticket, SampleRow(i + 1, Address(n), OutcomeAt(run, n)));
                }
                writer.EndRun(ticket, run % 7 == 6 ? RunOutcome::Stopped : RunOutcome::Completed,
                              QStringLiteral("百度为您找到相关结果约1,234个"));
            }
            writer.WaitUntilWritten();
            QCoreApplication::processEvents();
        }
        history->bytesPerRow = static_cast<double>(QFileInfo(history->path).size()) / (kRuns * kRowsPerRun);
        return true;
    }(&big);
    (void)written;
    return big;
}

} // namespace vantorel::bench
