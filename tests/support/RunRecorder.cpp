#include "RunRecorder.h"

#include <QTest>

using vantorel::BacklinkAnalysis;

RunRecorder::RunRecorder(BacklinkAnalysis &analysis) : analysis_(analysis)
{
    connect(&analysis, &BacklinkAnalysis::PanelShown, this, [this](bool shown) {
        panelVisible = shown;
        Record(shown ? QStringLiteral("PanelShown") : QStringLiteral("PanelHidden"));
    });
    connect(&analysis, &BacklinkAnalysis::StatusChanged, this, [this](const QString &text) {
        status = text;
        statuses << text;
        Record(QStringLiteral("Status:") + text);
    });
    connect(&analysis, &BacklinkAnalysis::TipLineChanged, this, [this](const QString &text) {
        tipLine = text;
        Record(QStringLiteral("TipLine:") + text);
    });
    connect(&analysis, &BacklinkAnalysis::DomainChanged, this, [this](const QString &text) {
        domain = text;
        Record(QStringLiteral("Domain:") + text);
    });
    connect(&analysis, &BacklinkAnalysis::RowsListed, this, [this] { Record(QStringLiteral("RowsListed")); });
    connect(&analysis, &BacklinkAnalysis::RowStarted, this,
            [this](int row) { Record(QStringLiteral("RowStarted:%1").arg(row)); });
    connect(&analysis, &BacklinkAnalysis::RowJudged, this,
            [this](int row) { Record(QStringLiteral("RowJudged:%1").arg(row)); });
    connect(&analysis, &BacklinkAnalysis::Finished, this, [this](vantorel::RunOutcome outcome) {
        finished = outcome;
        Record(QStringLiteral("Finished"));
    });
}

void RunRecorder::Record(const QString &event)
{
    events << event;
    if (onEvent)
        onEvent(event);
}

bool RunRecorder::WaitForEnd(std::chrono::milliseconds timeout)
{
    return QTest::qWaitFor([this] { return !analysis_.Running(); }, static_cast<int>(timeout.count()));
}

QStringList RunRecorder::Verdicts() const
{
    QStringList verdicts;
    for (const vantorel::ResultRow &row : analysis_.Rows())
        verdicts << row.Verdict();
    return verdicts;
}

QStringList RunRecorder::Addresses() const
{
    QStringList addresses;
    for (const vantorel::ResultRow &row : analysis_.Rows())
        addresses << row.address;
    return addresses;
}
