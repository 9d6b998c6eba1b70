#include "Domain.h"

#include "TextOps.h"

#include <QUrl>

namespace vantorel {

namespace {

bool IsTrimmed(QChar c)
{
    return c.isSpace() || c.category() == QChar::Other_Control;
}

bool HasScheme(QStringView text, QStringView scheme)
{
    return text.startsWith(scheme, Qt::CaseInsensitive);
}

} // namespace

QString ReduceToHost(QStringView typed)
{
    qsizetype begin = 0;
    qsizetype end = typed.size();
    while (begin < end && IsTrimmed(typed[begin]))
        ++begin;
    while (end > begin && IsTrimmed(typed[end - 1]))
        --end;
    QStringView host = typed.sliced(begin, end - begin);

    if (const qsizetype schemeEnd = host.indexOf(u"://"); schemeEnd > 0) {
        const QStringView scheme = host.first(schemeEnd);
        const bool schemeLike = scheme.front().isLetter() &&
                                std::all_of(scheme.begin(), scheme.end(), [](QChar c) {
                                    return c.isLetterOrNumber() || c == u'+' || c == u'-' || c == u'.';
                                });
        if (schemeLike)
            host = host.sliced(schemeEnd + 3);
    }
    while (host.startsWith(u'/'))
        host = host.sliced(1);
    for (const QChar stop : {u'/', u'?', u'#', u'\\'})
        if (const qsizetype at = host.indexOf(stop); at >= 0)
            host = host.first(at);
    if (const qsizetype at = host.lastIndexOf(u'@'); at >= 0)
        host = host.sliced(at + 1);
    // A port follows the last colon, unless the colons belong to a bracketed IPv6 address.
    if (const qsizetype colon = host.lastIndexOf(u':'); colon >= 0 && colon > host.lastIndexOf(u']'))
        host = host.first(colon);
    while (host.endsWith(u'.'))
        host.chop(1);

    QString reduced = host.toString();
    for (QChar &c : reduced)
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    return reduced;
}

bool PageMentionsDomain(QStringView page, QStringView domain)
{
    if (domain.isEmpty())
        return false;
    if (page.contains(domain, Qt::CaseInsensitive))
        return true;
    // The other spelling of an internationalised name: punycode for a Unicode one and back.
    const QString ace = QString::fromLatin1(QUrl::toAce(domain.toString()));
    const QString other = ace.compare(domain, Qt::CaseInsensitive) != 0 ? ace : QUrl::fromAce(domain.toLatin1());
    return !other.isEmpty() && other.compare(domain, Qt::CaseInsensitive) != 0 &&
           page.contains(other, Qt::CaseInsensitive);
}

QString RowUrl(QStringView address)
{
    const QStringView trimmed = TrimSpaces(address);
    if (HasScheme(trimmed, u"http://") || HasScheme(trimmed, u"https://"))
        return trimmed.toString();
    return QStringLiteral("http://") + trimmed.toString();
}

} // namespace vantorel
