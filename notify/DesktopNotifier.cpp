#include "DesktopNotifier.h"

#include <Domain.h>

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace vantorel {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
constexpr int kMostAddresses = 5;
// A notification server that does not answer by then is taken as absent.
constexpr int kAnswerTimeoutMs = 5000;

QString FailureText(const QString &why)
{
    return QStringLiteral("桌面通知未发送：") + why;
}

} // namespace

std::optional<DesktopMessage> DesktopMessageOf(const ChangeNotice &notice)
{
    const int lost = notice.Count(kLostKind) + notice.Count(kBecameMentionKind);
    const int unreachable = notice.Count(kBecameUnreachableKind);
    if (lost == 0 && unreachable == 0)
        return std::nullopt;
    DesktopMessage message;
    // An internationalised site as people write it, not its punycode key.
    const QString site = SiteShown(notice.domain);
    message.summary = lost > 0 ? QStringLiteral("%1：丢失 %2 条外链").arg(site).arg(lost)
                               : QStringLiteral("%1：%2 条外链变为无法访问").arg(site).arg(unreachable);
    // The losses first, then the pages that could not be had.
    QStringList lines;
    for (const char16_t *kind : {kLostKind, kBecameMentionKind, kBecameUnreachableKind})
        for (const NoticeChange &change : notice.changes)
            if (change.kind == kind)
                lines << change.Line().toHtmlEscaped();
    if (lines.size() > kMostAddresses) {
        const qsizetype more = lines.size() - kMostAddresses;
        lines.resize(kMostAddresses);
        lines << QStringLiteral("等 %1 条").arg(more);
    }
    message.body = lines.join(u'\n');
    return message;
}

DesktopNotifier::DesktopNotifier(QObject *parent) : DesktopNotifier(QDBusConnection::sessionBus(), parent) {}

DesktopNotifier::DesktopNotifier(const QDBusConnection &bus, QObject *parent) : QObject(parent), bus_(bus) {}

bool DesktopNotifier::Notify(const ChangeNotice &notice)
{
    const std::optional<DesktopMessage> message = DesktopMessageOf(notice);
    if (!message)
        return false;
    if (!bus_.isConnected()) {
        emit Failed(FailureText(QStringLiteral("没有会话总线（%1）").arg(bus_.lastError().message())));
        return true;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("com.quillmere.Vantorel")},
                            {QStringLiteral("urgency"), QVariant::fromValue(uchar(1))}};
    call << QStringLiteral("Vantorel") << shown_.value(notice.domain) << QStringLiteral("vantorel") << message->summary
         << message->body << QStringList() << hints << -1;
    auto *watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kAnswerTimeoutMs), this);
    ++pending_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, domain = notice.domain] {
        watcher->deleteLater();
        Answered(domain, *watcher);
        if (--pending_ == 0)
            emit Settled();
    });
    return true;
}

void DesktopNotifier::Answered(const QString &domain, const QDBusPendingCall &call)
{
    const QDBusPendingReply<uint> reply(call);
    if (reply.isError()) {
        const QDBusError error = reply.error();
        const bool absent = error.type() == QDBusError::ServiceUnknown || error.type() == QDBusError::NoReply ||
                            error.type() == QDBusError::Timeout || error.type() == QDBusError::TimedOut;
        emit Failed(FailureText(absent ? QStringLiteral("没有桌面通知服务") : error.message()));
        return;
    }
    shown_.insert(domain, reply.value());
}

} // namespace vantorel
