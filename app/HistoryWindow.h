#pragma once

#include "GridActions.h"

#include <HistoryReader.h>
#include <Mail.h>
#include <WatchList.h>

#include <QHash>
#include <QThreadPool>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QSpinBox;
class QSplitter;
class QLabel;
class QMenu;
class QPushButton;
class QStandardItemModel;
class QTableView;

namespace vantorel {

class HistoryWriter;
class RunChart;
class RunNotices;

// The questions the history window asks the user; tests answer them instead.
struct HistoryDialogs {
    std::function<void(const QString &suggestedPath, PathChosen chosen)> askSavePath;
    // yes runs only when the user agrees.
    std::function<void(const QString &question, std::function<void()> yes)> confirm;
    std::function<void(const QString &message)> tell;
    // The webhooks, one a line; answers through done, or never when cancelled.
    std::function<void(const QStringList &current, std::function<void(const QStringList &)> done)> editWebhooks;
    // The e-mail's server, sender and recipients; answers through done, or never when cancelled.
    std::function<void(const MailSettings &current, std::function<void(const MailSettings &)> done)> editMail;
};

// "历史记录": the domains the history holds, a domain's runs, and a run's changes against the run
// it is compared with, filterable by kind and exportable as CSV; runs and domains can be deleted.
// Non-modal, so that a run goes on. Every read runs on a thread of the window's own pool, each
// with a reader of its own, so the window never waits on the disk; deletes go through the writer.
class HistoryWindow final : public QWidget {
    Q_OBJECT

public:
    HistoryWindow(QString path, HistoryWriter &writer, QWidget *parent = nullptr);
    // Waits for the reads in flight: they use the writer.
    ~HistoryWindow() override;

    void SetDialogs(HistoryDialogs dialogs) { dialogs_ = std::move(dialogs); }
    // Where "通知网址..." and "邮件..." keep their settings; the buttons are off without it.
    void SetRunNotices(RunNotices *notices);

    // Reads the domains again once what the writer has queued is written, keeping the chosen
    // domain and run where they still are.
    void Reload();
    void ExportChanges();
    void DeleteRun();
    void DeleteDomain();
    // "每天自动复查" for the chosen domain, on or off, with its interval; written on the pool.
    void SetWatched(bool watched, int intervalHours, int confirmChecks);
    void EditWebhooks();
    // "不再复查此地址" on the change in that row of the shown changes.
    void ForgetAddressOf(int changeRow);
    // The menu of a change, as the table's context menu shows it at that row.
    std::unique_ptr<QMenu> ChangeMenu(int changeRow);
    void EditMail();

signals:
    // "复查已知外链" for the chosen domain.
    void RecheckRequested(const QString &domain);

private:
    struct Listing;
    struct Changes;

    void BuildControls();
    void LoadRuns();
    void LoadChanges();
    void ShowDomains(const Listing &listing);
    void ShowRuns(const Listing &listing);
    void ShowChanges();
    // The chosen run's changes of the chosen kind.
    RunChanges ShownChanges() const;
    void EnableButtons();
    void ShowWatch();
    QString ChosenDomain() const;
    const RunSummary *ChosenRun() const;

    const QString path_;
    HistoryWriter &writer_;
    HistoryDialogs dialogs_;
    QThreadPool pool_;
    int domainsRead_ = 0, runsRead_ = 0, changesRead_ = 0, watchWritten_ = 0;

    QLabel *statusLine_ = nullptr;
    QTableView *domainsView_ = nullptr;
    QTableView *runsView_ = nullptr;
    QTableView *changesView_ = nullptr;
    QComboBox *kindBox_ = nullptr;
    QPushButton *exportButton_ = nullptr;
    QPushButton *deleteRunButton_ = nullptr;
    QPushButton *deleteDomainButton_ = nullptr;
    QPushButton *recheckButton_ = nullptr;
    QPushButton *closeButton_ = nullptr;
    QPushButton *webhooksButton_ = nullptr;
    QPushButton *mailButton_ = nullptr;
    QCheckBox *watchBox_ = nullptr;
    QSpinBox *intervalBox_ = nullptr;
    QSpinBox *watchConfirmBox_ = nullptr; // the watched site's checks in a row that confirm a loss
    QSpinBox *keepBox_ = nullptr; // 自动清理, with the notices' settings
    QSpinBox *confirmBox_ = nullptr; // the window's runs' checks in a row that confirm a loss, with the settings
    RunChart *chart_ = nullptr;
    RunNotices *notices_ = nullptr;
    QStandardItemModel *domainsModel_ = nullptr;
    QStandardItemModel *runsModel_ = nullptr;
    QStandardItemModel *changesModel_ = nullptr;

    std::vector<DomainSummary> domains_;
    QHash<QString, WatchedDomain> watched_;
    QString wantedDomain_;
    std::vector<RunSummary> runs_;
    qint64 wantedRun_ = 0;
    std::optional<RunChanges> changes_;
    QHash<QString, QString> evidence_; // address: its evidence, as the tool tip says it
};

} // namespace vantorel
