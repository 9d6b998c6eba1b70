#include "ConsoleStreams.h"

#include <cerrno>
#include <csignal>
#include <cstring>

namespace vantorel {

namespace {

QString Reason(int error)
{
    switch (error) {
    case ENOSPC: return QStringLiteral("磁盘空间不足");
    case EPIPE: return QStringLiteral("输出管道已关闭");
    case EIO: return QStringLiteral("输入输出错误");
    case EBADF: return QStringLiteral("输出已关闭");
    case EDQUOT: return QStringLiteral("超出磁盘配额");
    default: return QString::fromLocal8Bit(std::strerror(error));
    }
}

} // namespace

void IgnoreClosedPipes()
{
    std::signal(SIGPIPE, SIG_IGN);
}

bool ConsoleStreams::Write(std::FILE *stream, QByteArrayView bytes)
{
    if (shared_)
        return shared_->Write(stream, bytes);
    if (failed_)
        return false;
    errno = 0;
    const std::size_t written = std::fwrite(bytes.data(), 1, static_cast<std::size_t>(bytes.size()), stream);
    // A buffered write only fails when it is flushed.
    if (written == static_cast<std::size_t>(bytes.size()) && std::fflush(stream) == 0 && !std::ferror(stream))
        return true;
    failed_ = true;
    error_ = errno != 0 ? errno : EIO;
    if (onFailure)
        onFailure();
    return false;
}

bool ConsoleStreams::Say(const QString &text)
{
    return Write(stderr, (linePrefix_ + text + u'\n').toUtf8());
}

bool ConsoleStreams::ReportFailure()
{
    if (shared_)
        return shared_->ReportFailure();
    if (!failed_)
        return false;
    if (!reported_) {
        reported_ = true;
        const QByteArray message = (QStringLiteral("无法写出结果：") + Reason(error_) + u'\n').toUtf8();
        std::clearerr(stderr);
        std::fwrite(message.constData(), 1, static_cast<std::size_t>(message.size()), stderr);
        std::fflush(stderr);
    }
    return true;
}

} // namespace vantorel
