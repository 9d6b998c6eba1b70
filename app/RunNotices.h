#pragma once

#include <DesktopNotifier.h>
#include <Mail.h>

#include <QObject>
#include <QStringList>
#include <QThreadPool>

#include <memory>

namespace vantorel {

class HistoryWriter;
class RunHistory;

// Tells what a run of the window changed once the store holds it: a desktop notification when
// none of the program's windows is active as the run ends (its failure is one line on standard
// error, as from the command line), a POST to each webhook of the settings and an e-mail to the
// settings' recipients (their failures on the status line). The notice is read and posted on a pool of its own; the window's thread only
// hands it over.
class RunNotices final : public QObject {
    Q_OBJECT

public:
    RunNotices(RunHistory &history, HistoryWriter &writer, QString historyPath, QObject *parent = nullptr);
    // Waits for the reads and posts in flight.
    ~RunNotices() override;

    // The webhooks and the e-mail, as the settings keep them (loaded on the pool; empty until
    // WebhooksRead).
    const QStringList &Webhooks() const { return webhooks_; }
    const MailSettings &Mail() const { return mail_; }
    // Keep them in the settings, written on the pool.
    void SetWebhooks(const QStringList &urls);
    // 自动清理: after each run, the runs older than this many days that hold nothing new are
    // deleted (HistoryWriter::Prune); 0, the default, keeps every run. Kept with the settings
    // (read on the pool; 0 until KeepDaysRead).
    int KeepDays() const { return keepDays_; }
    void SetKeepDays(int days);
    // How many checks in a row confirm a loss in the window's runs (1, the default: at once).
    // Kept with the settings (read on the pool; 1 until KeepDaysRead).
    int ConfirmChecks() const { return confirmChecks_; }
    void SetConfirmChecks(int checks);
    void SetMail(const MailSettings &mail);
    // The runs from now on are kept there.
    void UseHistory(HistoryWriter &writer, const QString &historyPath);
    // Notifies through this bus instead of the session bus, which is reached at the first
    // notification.
    void UseBus(const QDBusConnection &bus);

signals:
    void WebhooksRead();
    void KeepDaysRead();
    // "通知发送失败：…", or why the history could not be read.
    void FailureToShow(const QString &text);

private:
    void Tell(qint64 runId);

    QString historyPath_;
    HistoryWriter *writer_;
    QThreadPool pool_;
    std::unique_ptr<DesktopNotifier> desktop_;
    QStringList webhooks_;
    bool webhooksSet_ = false;
    RunHistory &history_;
    int keepDays_ = 0;
    bool keepDaysSet_ = false;
    int confirmChecks_ = 1;
    bool confirmChecksSet_ = false;
    MailSettings mail_;
    bool mailSet_ = false;
};

} // namespace vantorel
