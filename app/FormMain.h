#pragma once

#include <BacklinkAnalysis.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vantorel {

class GridActions;
class HistoryWindow;
class HistoryWriter;
class RunHistory;
class RunNotices;
class ResultGrid;
class ResultModel;

// The program's only window: note strip, input row, result grid with the progress panel on
// top of it, and the tip line. It opens at its designed size and can grow; closing it ends
// the program.
class FormMain final : public QWidget {
    Q_OBJECT

public:
    using UrlOpener = std::function<void(const QString &address)>;

    // Runs are kept in the history file at historyPath; none without one.
    explicit FormMain(AnalysisSettings settings = {}, QString historyPath = {}, QWidget *parent = nullptr);
    ~FormMain() override;

    // Seams for tests: where links open, the analysis and the grid's actions.
    void SetUrlOpener(UrlOpener opener) { openUrl_ = std::move(opener); }
    BacklinkAnalysis &Analysis() { return analysis_; }
    GridActions &ResultActions() { return *gridActions_; }
    // Starts a run with what the domain box holds, as "分  析" does.
    void Analyze();
    // The history file; empty when runs are not kept.
    const QString &HistoryPath() const { return historyPath_; }
    // Keeps runs in the history: the writer is made here, on the window's thread.
    RunHistory *History() const { return runHistory_; }
    // Tells the desktop and the webhooks what a kept run changed; none without a history.
    RunNotices *Notices() const { return runNotices_; }
    // "历史记录" (Ctrl+H): made on first use, then shown again and read afresh.
    void OpenHistory();
    // "复查已知外链": checks every address that was ever 有效 for the domain, without the engine.
    void RecheckKnownLinks(const QString &typedDomain);
    // "不再复查此地址": the site's re-checks pass the address by.
    void ForgetAddress(const QString &address);
    // "外链约定...": the link agreed for the address, asked of the user and kept.
    void EditAgreement(const QString &address, const std::optional<LinkEvidence> &firstLink);
    // "历史记录位置...": the dialog, opened; once accepted, the setting is kept and used.
    void ChooseHistoryLocation();
    // Keeps the next runs at location (refused, and said, during a run); the history window
    // shows it from then on.
    void UseHistoryLocation(const QString &location);

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void BuildControls();
    void DescribeForScreenReaders();
    void WireEvents();
    void WatchRuns();
    void WatchPanelAndTipLine();
    void ShowListSize();
    void Load();
    void OpenRow(int row);
    void ShowPanel(bool shown);
    void ShowStatus(const QString &text);
    // The panel as wide as its status needs, about the grid's middle, never beyond the grid.
    void PlacePanel();
    int Pixels(int twips) const;
    // Reads the last checks of the run's addresses before this run, for the verdicts' tool tips.
    void ReadPreviousChecks();
    // The window is going away: the run is dropped, and kept in the history as stopped.
    void Abandon();

    QFrame *noteFrame_ = nullptr;
    QLabel *noteLabel_ = nullptr;
    QFrame *workFrame_ = nullptr;
    QLabel *promptLabel_ = nullptr;
    QLineEdit *domainEdit_ = nullptr;
    QPushButton *analyzeButton_ = nullptr;
    QPushButton *instructionsButton_ = nullptr;
    QPushButton *latestVersionButton_ = nullptr;
    QPushButton *forumButton_ = nullptr;
    QPushButton *exitButton_ = nullptr;
    ResultGrid *grid_ = nullptr;
    QLabel *tipLine_ = nullptr;
    QFrame *progressPanel_ = nullptr;
    QLabel *statusLine_ = nullptr;
    QPushButton *stopButton_ = nullptr;
    ResultModel *model_ = nullptr;

    QElapsedTimer sinceStatusDrawn_;
    bool placed_ = false;
    UrlOpener openUrl_;
    BacklinkAnalysis analysis_;
    QString historyPath_;
    std::unique_ptr<HistoryWriter> historyWriter_;
    // Writers of locations left behind, ended with the window: their last writes may wait on a
    // server, which the window's thread never does.
    std::vector<std::unique_ptr<HistoryWriter>> retiredWriters_;
    RunHistory *runHistory_ = nullptr;
    RunNotices *runNotices_ = nullptr;
    GridActions *gridActions_ = nullptr;
    HistoryWindow *historyWindow_ = nullptr;
    QString runDomain_;
    QDateTime runStartedAt_;
    int checksRead_ = 0; // only the latest run's checks are shown
    RunKind runKind_ = RunKind::Search;
    bool engineCountShown_ = false; // the search's count is on the tip line
    bool listSummaryShown_ = false; // what the list gave is on the tip line until it is listed
};

} // namespace vantorel
