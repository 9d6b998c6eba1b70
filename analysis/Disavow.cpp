#include "Disavow.h"

#include <QLocale>
#include <QSet>
#include <QUrl>

namespace vantorel {

namespace {

constexpr QStringView kDomainPrefix = u"domain:";

// An entry as the console reads it: an address percent-encoded, or domain: and the host in
// punycode; empty when it is neither.
QString EntryLine(const QString &entry)
{
    const QString trimmed = entry.trimmed();
    if (trimmed.startsWith(kDomainPrefix, Qt::CaseInsensitive)) {
        const QString host = QString::fromLatin1(QUrl::toAce(trimmed.mid(kDomainPrefix.size()).trimmed().toLower()));
        const bool isHost = !host.isEmpty() && !host.contains(u'/') && !host.contains(u':');
        return isHost ? kDomainPrefix.toString() + host : QString();
    }
    const bool hasScheme = trimmed.contains(QStringLiteral("://"));
    const QUrl url(hasScheme ? trimmed : QStringLiteral("http://") + trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || (url.scheme() != u"http" && url.scheme() != u"https"))
        return {};
    return url.toString(QUrl::FullyEncoded);
}

// A count as a message shows it: 100,000, whatever the system's locale.
QString Count(qint64 count)
{
    return QLocale(QLocale::Chinese, QLocale::China).toString(count);
}

// An address as a message shows it: its start, when it is long.
QString Shown(const QString &address)
{
    constexpr qsizetype kShown = 80;
    return address.size() > kShown ? address.first(kShown) + u'…' : address;
}

} // namespace

DisavowFile MakeDisavowFile(const QString &site, const QStringList &entries, const QDateTime &made)
{
    QStringList lines;
    QSet<QString> seen;
    for (const QString &entry : entries) {
        const QString line = EntryLine(entry);
        const int number = static_cast<int>(lines.size()) + 2; // after the comment line
        if (line.isEmpty())
            return {{}, QStringLiteral("无法识别的网址（第 %1 行）：%2").arg(number).arg(Shown(entry))};
        if (line.size() > kMostDisavowUrlLength)
            return {{},
                    QStringLiteral("网址超过 %1 个字符（第 %2 行）：%3").arg(Count(kMostDisavowUrlLength)).arg(number).arg(Shown(line))};
        if (!seen.contains(line)) {
            seen.insert(line);
            lines << line;
        }
    }
    lines.prepend(QStringLiteral("# %1 的拒绝链接文件：%2 条，由 Vantorel 生成于 %3")
                      .arg(site)
                      .arg(lines.size())
                      .arg(made.toString(QStringLiteral("yyyy-MM-dd HH:mm"))));
    if (lines.size() > kMostDisavowLines)
        return {{}, QStringLiteral("超过 %1 行（共 %2 行）").arg(Count(kMostDisavowLines), Count(lines.size()))};
    QByteArray text = lines.join(u'\n').toUtf8() + '\n';
    if (text.size() > kMostDisavowBytes)
        return {{}, QStringLiteral("超过 2 MB（共 %1 字节）").arg(Count(text.size()))};
    return {std::move(text), {}};
}

} // namespace vantorel
