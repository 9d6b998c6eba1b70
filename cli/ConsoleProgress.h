#pragma once

#include "ConsoleStreams.h"

#include <BacklinkAnalysis.h>

#include <QObject>

namespace vantorel {

// Progress of a run from the command line on standard error: a bar on a terminal, a line per
// judged row otherwise.
class ConsoleProgress final : public QObject {
    Q_OBJECT

public:
    ConsoleProgress(const BacklinkAnalysis &analysis, ConsoleStreams &streams, bool toTerminal);

    // The last status text of the run.
    const QString &Status() const { return status_; }
    // Ends the progress bar's line, if one was drawn.
    void Finish();

private:
    void ShowJudged(int row);

    const BacklinkAnalysis &analysis_;
    ConsoleStreams &streams_;
    bool toTerminal_;
    int judged_ = 0;
    QString status_;
};

} // namespace vantorel
