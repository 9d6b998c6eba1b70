#pragma once

#include "ChangeNotice.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>

namespace vantorel {

// What a desktop notification of a run says: "<domain>：丢失 N 条外链" and the first addresses.
struct DesktopMessage {
    QString summary;
    QString body; // one change a line, in the markup the notification servers read
};
// Nothing when the run lost no link and no page became unreachable.
std::optional<DesktopMessage> DesktopMessageOf(const ChangeNotice &notice);

// Tells the desktop, through the session bus's notification service, when a run lost links or
// pages became unreachable: one notification per site, each replacing that site's previous one
// while this process lives. The calls never wait: the answers come back on the event loop.
class DesktopNotifier final : public QObject {
    Q_OBJECT

public:
    explicit DesktopNotifier(QObject *parent = nullptr);
    DesktopNotifier(const QDBusConnection &bus, QObject *parent = nullptr);

    // Sends the notice's notification; false when it has nothing to tell.
    bool Notify(const ChangeNotice &notice);
    // Whether a notification sent still waits for its answer (Settled comes when none does).
    bool Pending() const { return pending_ > 0; }

signals:
    // Why a notification could not be shown, in Chinese ("桌面通知未发送：…").
    void Failed(const QString &reason);
    // Every notification sent has its answer, or its time-out.
    void Settled();

private:
    void Answered(const QString &domain, const QDBusPendingCall &call);

    QDBusConnection bus_;
    QHash<QString, uint> shown_; // the site's notification on screen, by its server's id
    int pending_ = 0;
};

} // namespace vantorel
