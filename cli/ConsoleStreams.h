#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdio>
#include <functional>
#include <utility>

namespace vantorel {

// A closed pipe ends a write with an error, never the program with SIGPIPE: the status is then
// 1 and the reason said, whatever the disposition the program was started with (systemd starts
// services with SIGPIPE ignored, a shell with it on).
void IgnoreClosedPipes();

// Standard output and standard error of a check. Every write is checked: the first one that
// fails (a full disk, a closed pipe, /dev/full) is remembered and reported once, so that
// results never vanish unnoticed.
class ConsoleStreams {
public:
    ConsoleStreams() = default;
    // The streams of one site among several in one output: its lines on standard error start
    // with linePrefix ("a.com："); everything else, failures included, is shared's.
    ConsoleStreams(ConsoleStreams &shared, QString linePrefix) : shared_(&shared), linePrefix_(std::move(linePrefix)) {}
    ConsoleStreams(const ConsoleStreams &) = delete;
    ConsoleStreams &operator=(const ConsoleStreams &) = delete;

    // Writes and flushes; false when this or an earlier write failed.
    bool Write(std::FILE *stream, QByteArrayView bytes);
    // The first write to standard output is led by outLead (a CSV's byte order mark).
    bool Out(QByteArrayView bytes)
    {
        if (shared_)
            return shared_->Out(bytes);
        if (!outLead.isEmpty() && !Write(stdout, std::exchange(outLead, QByteArray())))
            return false;
        return Write(stdout, bytes);
    }
    QByteArray outLead;
    // A line of text on standard error.
    bool Say(const QString &text);

    bool Failed() const { return shared_ ? shared_->Failed() : failed_; }
    // "无法写出结果：<reason>" on standard error, once; true when a write had failed.
    bool ReportFailure();

    // Called once, at the first failed write (to stop the run).
    std::function<void()> onFailure;

private:
    ConsoleStreams *shared_ = nullptr;
    QString linePrefix_;
    bool failed_ = false;
    bool reported_ = false;
    int error_ = 0;
};

} // namespace vantorel
