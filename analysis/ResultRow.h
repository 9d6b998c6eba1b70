#pragma once

#include "Verdict.h"

#include <QString>

#include <chrono>
#include <optional>

namespace vantorel {

// How a run ended.
enum class RunOutcome {
    Running,
    Completed,         // every row judged
    NoDomain,          // nothing left of the typed domain
    EngineUnreachable, // no result page was had
    EngineRefused,     // the engine asked for a human check
    PageUnrecognised,  // the engine's page had none of the result page's markers
    Stopped,           // stopped, superseded or abandoned
};

// Where a run's rows come from.
// Import: what an export said of its pages' links, kept without fetching, so that the first
// check of each page is compared with it.
enum class RunKind { Search, AddressList, Recheck, Import, Monitor };

// Where a row stands in its run.
enum class RowState { Waiting, Fetching, WaitingToRetry, Rendering, Judged };

// One row of a run: what it checks, how the grid shows it, and its evidence once judged.
struct ResultRow {
    int number = 0;
    QString url;     // the full address, with its scheme
    QString address; // as the grid shows it
    RowState state = RowState::Waiting;
    std::optional<RowEvidence> evidence;
    std::chrono::milliseconds retryWait{0}; // while WaitingToRetry

    // The verdict word once judged; before, where the row stands: "等待检测", "检测中…",
    // "等待重试（6 秒）", "渲染中…".
    QString Verdict() const;
};

} // namespace vantorel
