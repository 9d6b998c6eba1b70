#include "DisavowRules.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>

namespace vantorel {

QString DisavowRulesBroken(const QByteArray &file)
{
    if (file.size() > 2 * 1024 * 1024)
        return QStringLiteral("larger than 2 MB");
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(file);
    if (utf8.hasError())
        return QStringLiteral("not UTF-8");
    QStringList lines = text.split(u'\n');
    if (lines.back().isEmpty())
        lines.removeLast();
    if (lines.size() > 100'000)
        return QStringLiteral("more than 100,000 lines");
    static const QRegularExpression host(QStringLiteral("^[a-z0-9]([a-z0-9-]*[a-z0-9])?(\\.[a-z0-9]([a-z0-9-]*[a-z0-9])?)+$"));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &line = lines[i];
        const QString where = QStringLiteral(" (line %1)").arg(i + 1);
        if (line.startsWith(u'#'))
            continue;
        if (line.startsWith(QStringLiteral("domain:"))) {
            if (!host.match(line.mid(7)).hasMatch())
                return QStringLiteral("not a host") + where;
            continue;
        }
        if (line.size() > 2048)
            return QStringLiteral("an address longer than 2,048 characters") + where;
        const QUrl url(line, QUrl::StrictMode);
        if (!url.isValid() || (url.scheme() != u"http" && url.scheme() != u"https") || url.host().isEmpty())
            return QStringLiteral("neither a comment, a domain nor an address") + where;
    }
    return {};
}

} // namespace vantorel
