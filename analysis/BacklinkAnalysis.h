#pragma once

#include "AnalysisWindow.h"

#include <FetchPage.h>

#include <QString>

#include <chrono>

namespace vantorel {

struct AnalysisSettings {
    QString searchHost = QStringLiteral("www.baidu.com");
    std::chrono::milliseconds pause{1000};
    FetchLimits fetchLimits;
};

// One analysis run: fetch the engine's result page, list the linking pages, then visit each
// of them. Everything runs on the caller's (the window's) thread. A run started from the event
// processing of another run supersedes it: the older run stops once the newer one returns.
class BacklinkAnalysis {
public:
    explicit BacklinkAnalysis(AnalysisWindow &window, AnalysisSettings settings = {});

    void RunAnalysis();
    void ParseSearchResults();
    void CheckLinkValidity();

    AnalysisSettings &Settings() { return settings_; }

private:
    using RunId = quint64;

    bool StillCurrent(RunId run) const;
    void Pause() const;

    AnalysisWindow &window_;
    AnalysisSettings settings_;
    RunId latestRun_ = 0;
};

} // namespace vantorel
