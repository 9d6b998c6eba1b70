#pragma once

#include "HistoryReader.h"

#include <QString>

namespace vantorel {

// What the charts of a site's runs (the history window's, the report's) share.

// "检测 12（2026-12-08 07:45，复查）：有效 3，已失效 1，未能检测 0"; a run that did not complete
// says so instead of its counts.
QString RunPointLabel(const RunSummary &run);

// The step between the count axis's ticks: 1, 2 or 5 times a power of ten, at most five steps
// from 0 to most.
int RoundTickStep(int most);

} // namespace vantorel
