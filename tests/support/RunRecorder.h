#pragma once

// Watches a run as a front end does and records what it said, in order.

#include "QtPrinters.h"

#include <BacklinkAnalysis.h>

#include <QObject>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

class RunRecorder final : public QObject {
public:
    explicit RunRecorder(vantorel::BacklinkAnalysis &analysis);

    QString domain;
    QString status;
    QString tipLine = QStringLiteral("initial tip");
    bool panelVisible = false;
    QStringList statuses; // every status text, in order
    // Every signal, in order: "PanelShown", "PanelHidden", "Status:…", "TipLine:…", "Domain:…",
    // "RowsListed", "RowStarted:i", "RowJudged:i", "Finished".
    QStringList events;
    std::optional<vantorel::RunOutcome> finished;
    // Called after each event is recorded, as a user's clicks would come in between.
    std::function<void(const QString &event)> onEvent;

    // Runs the event loop until the run has ended; false on time-out.
    bool WaitForEnd(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // The verdict column of the run's rows.
    QStringList Verdicts() const;
    QStringList Addresses() const;

private:
    void Record(const QString &event);

    vantorel::BacklinkAnalysis &analysis_;
};
