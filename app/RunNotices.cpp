#include "RunNotices.h"

#include "Background.h"

#include <HistoryWriter.h>
#include <RunHistory.h>
#include <Webhook.h>

#include <QApplication>
#include <QSettings>
#include <QtConcurrent>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace vantorel {

namespace {

const QString kWebhooksKey = QStringLiteral("notify/webhooks");
const QString kKeepDaysKey = QStringLiteral("history/keepDays");
const QString kConfirmChecksKey = QStringLiteral("history/confirmChecks");
const QString kMailServerKey = QStringLiteral("notify/mailServer");
const QString kMailFromKey = QStringLiteral("notify/mailFrom");
const QString kMailToKey = QStringLiteral("notify/mailTo");

QSettings Settings()
{
    return QSettings(QStringLiteral("vantorel"), QStringLiteral("vantorel"));
}

struct Kept {
    QStringList webhooks;
    MailSettings mail;
};

struct Told {
    std::optional<ChangeNotice> notice;
    QString failure;
};

} // namespace

RunNotices::RunNotices(RunHistory &history, HistoryWriter &writer, QString historyPath, QObject *parent)
    : QObject(parent), historyPath_(std::move(historyPath)), writer_(&writer), history_(history)
{
    pool_.setMaxThreadCount(1); // in order: a webhook set is kept before it is read again
    connect(&history, &RunHistory::RunEnded, this, [this](qint64 runId, RunOutcome outcome) {
        if (outcome == RunOutcome::Completed)
            Tell(runId);
        if (keepDays_ > 0)
            writer_->Prune({}, keepDays_);
    });
    RunThen(
        this, &pool_,
        [] {
            const QSettings settings = Settings();
            return std::pair(settings.value(kKeepDaysKey, 0).toInt(),
                             std::clamp(settings.value(kConfirmChecksKey, 1).toInt(), 1, kMostConfirmChecks));
        },
        [this](std::pair<int, int> kept) {
            if (!keepDaysSet_)
                keepDays_ = kept.first;
            if (!confirmChecksSet_) {
                confirmChecks_ = kept.second;
                history_.SetConfirmChecks(confirmChecks_);
            }
            emit KeepDaysRead();
        });
    RunThen(
        this, &pool_,
        [] {
            const QSettings settings = Settings();
            return Kept{settings.value(kWebhooksKey).toStringList(),
                        {settings.value(kMailServerKey).toString(), settings.value(kMailFromKey).toString(),
                         settings.value(kMailToKey).toStringList()}};
        },
        [this](const Kept &kept) {
            // What was set meanwhile is newer than what was read.
            if (!webhooksSet_)
                webhooks_ = kept.webhooks;
            if (!mailSet_)
                mail_ = kept.mail;
            emit WebhooksRead();
        });
}

RunNotices::~RunNotices()
{
    pool_.waitForDone();
}

void RunNotices::UseHistory(HistoryWriter &writer, const QString &historyPath)
{
    writer_ = &writer;
    historyPath_ = historyPath;
}

void RunNotices::UseBus(const QDBusConnection &bus)
{
    desktop_ = std::make_unique<DesktopNotifier>(bus);
    connect(desktop_.get(), &DesktopNotifier::Failed, this, [](const QString &reason) {
        std::fputs(qUtf8Printable(reason + u'\n'), stderr);
    });
}

void RunNotices::SetWebhooks(const QStringList &urls)
{
    webhooks_ = urls;
    webhooksSet_ = true;
    (void)QtConcurrent::run(&pool_, [urls] { Settings().setValue(kWebhooksKey, urls); });
}

void RunNotices::SetKeepDays(int days)
{
    keepDays_ = days;
    keepDaysSet_ = true;
    (void)QtConcurrent::run(&pool_, [days] { Settings().setValue(kKeepDaysKey, days); });
}

void RunNotices::SetConfirmChecks(int checks)
{
    confirmChecks_ = checks;
    confirmChecksSet_ = true;
    history_.SetConfirmChecks(checks);
    (void)QtConcurrent::run(&pool_, [checks] { Settings().setValue(kConfirmChecksKey, checks); });
}

void RunNotices::SetMail(const MailSettings &mail)
{
    mail_ = mail;
    mailSet_ = true;
    (void)QtConcurrent::run(&pool_, [mail] {
        QSettings settings = Settings();
        settings.setValue(kMailServerKey, mail.server);
        settings.setValue(kMailFromKey, mail.from);
        settings.setValue(kMailToKey, mail.to);
    });
}

void RunNotices::Tell(qint64 runId)
{
    const bool desktop = !QApplication::activeWindow(); // as the run ends
    const auto read = [path = historyPath_, writer = writer_, runId] {
        writer->WaitUntilWritten(); // the run's end is in the file before it is read
        HistoryReader reader(path);
        Told told;
        told.notice = ReadNotice(reader, runId);
        if (!told.notice)
            told.failure = QStringLiteral("无法读取历史记录：") + reader.Error();
        return told;
    };
    RunThen(this, &pool_, read, [this, desktop](const Told &told) {
        if (!told.notice) {
            emit FailureToShow(told.failure);
            return;
        }
        if (desktop && DesktopMessageOf(*told.notice)) {
            if (!desktop_)
                UseBus(QDBusConnection::sessionBus());
            desktop_->Notify(*told.notice);
        }
        if (webhooks_.isEmpty() && mail_.to.isEmpty())
            return;
        RunThen(
            this, &pool_, [urls = webhooks_, mail = mail_, notice = *told.notice] { return SendNotice(urls, mail, notice); },
            [this](const QStringList &failures) {
                if (!failures.isEmpty())
                    emit FailureToShow(failures.join(u'\n'));
            });
    });
}

} // namespace vantorel
