#include "NotificationBus.h"

#include <QAtomicInteger>

#include <mutex>

class NotificationBus::Server : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    std::vector<Call> Calls() const
    {
        const std::lock_guard lock(mutex_);
        return calls_;
    }

public slots:
    uint Notify(const QString &appName, uint replacesId, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &hints, int)
    {
        const std::lock_guard lock(mutex_);
        calls_.push_back({appName, replacesId, summary, body, hints});
        return static_cast<uint>(calls_.size());
    }

private:
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

NotificationBus::NotificationBus(bool serveNotifications) : server_(std::make_unique<Server>())
{
    static QAtomicInteger<int> buses;
    const int number = ++buses;
    serverName_ = QStringLiteral("test-notification-server-%1").arg(number);
    clientName_ = QStringLiteral("test-notification-client-%1").arg(number);
    daemon_.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                  QStringLiteral("--print-address")});
    if (!daemon_.waitForStarted(5000))
        return;
    while (!daemon_.canReadLine() && daemon_.waitForReadyRead(5000)) {
    }
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    if (!serveNotifications || address_.isEmpty())
        return;
    thread_.start();
    server_->moveToThread(&thread_);
    QDBusConnection server = QDBusConnection::connectToBus(address_, serverName_);
    server.registerObject(QStringLiteral("/org/freedesktop/Notifications"), server_.get(),
                          QDBusConnection::ExportAllSlots);
    server.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

NotificationBus::~NotificationBus()
{
    QDBusConnection::disconnectFromBus(clientName_);
    QDBusConnection::disconnectFromBus(serverName_);
    thread_.quit();
    thread_.wait();
    daemon_.kill();
    daemon_.waitForFinished(5000);
}

QDBusConnection NotificationBus::Client()
{
    return QDBusConnection::connectToBus(address_, clientName_);
}

std::vector<NotificationBus::Call> NotificationBus::calls() const
{
    return server_->Calls();
}

#include "NotificationBus.moc"
