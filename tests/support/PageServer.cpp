#include "PageServer.h"

namespace vantorel {

PageServer::PageServer(const Options &options) : options_(options)
{
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral(VANTOREL_PAGE_SERVER),
                   {QStringLiteral("--hosts"), QString::number(options.hosts), QStringLiteral("--pages"),
                    QString::number(options.pages), QStringLiteral("--size"), QString::number(options.size),
                    QStringLiteral("--domain"), options.domain});
    if (!process_.waitForStarted(10'000)) {
        error_ = process_.errorString();
        return;
    }
    while (!process_.canReadLine() && process_.waitForReadyRead(10'000)) {
    }
    port_ = process_.readLine().trimmed().toInt();
    if (port_ == 0)
        error_ = QStringLiteral("the page server did not say its port");
}

PageServer::~PageServer()
{
    process_.closeWriteChannel();
    if (!process_.waitForFinished(5'000))
        process_.kill();
    process_.waitForFinished();
}

std::vector<std::string> PageServer::urls(int delayMs, bool sorted) const
{
    return Urls(port_, options_.hosts, options_.pages, delayMs, sorted);
}

QString PageServer::indexUrl(int delayMs, bool sorted) const
{
    return QStringLiteral("http://127.0.0.1:%1/index/%2/%3")
        .arg(port_)
        .arg(delayMs)
        .arg(sorted ? QStringLiteral("sorted") : QStringLiteral("mixed"));
}

} // namespace vantorel
