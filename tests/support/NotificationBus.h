#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QThread>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <vector>

// A session bus of the test's own (dbus-daemon --session, stopped with the object) and, when
// asked, a desktop notification server on it that keeps each Notify call and answers with ids
// counting from 1. The server answers on a thread of its own, so the test may block meanwhile.
class NotificationBus {
public:
    struct Call {
        QString appName;
        uint replacesId = 0;
        QString summary;
        QString body;
        QVariantMap hints;
    };

    explicit NotificationBus(bool serveNotifications = true);
    ~NotificationBus();

    // Empty when dbus-daemon could not be started.
    QString address() const { return address_; }
    // A connection of the code under test to this bus.
    QDBusConnection Client();
    std::vector<Call> calls() const;

private:
    class Server;
    QProcess daemon_;
    QString address_;
    QString serverName_;
    QString clientName_;
    QThread thread_;
    std::unique_ptr<Server> server_;
};
