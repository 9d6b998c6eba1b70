#include "ServerAddress.h"

#include "ServerDeadline.h"

#include <QRegularExpression>
#include <QUrl>

namespace vantorel {

namespace {

const QString kSchemes[] = {QStringLiteral("postgresql://"), QStringLiteral("postgres://")};
// Where Debian's libpq looks for the server's socket when no host is named.
const QString kDefaultSocketFolder = QStringLiteral("/var/run/postgresql");

QString Decoded(QStringView text)
{
    return QUrl::fromPercentEncoding(text.toUtf8());
}

// libpq's quoting of a value in key='value'.
QString Quoted(QString value)
{
    value.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("\\'"));
    return u'\'' + value + u'\'';
}

bool SetPort(ServerAddress &address, const QString &text, QString &error)
{
    bool number = false;
    address.port = text.toInt(&number);
    if (number && address.port >= 1 && address.port <= 65535)
        return true;
    error = QStringLiteral("数据库地址中的端口应为 1 到 65535 的整数：%1").arg(text);
    return false;
}

// host, [v6 address] or host:port, all optional.
bool SetHostAndPort(ServerAddress &address, QStringView text, QString &error)
{
    qsizetype colon = text.lastIndexOf(u':');
    if (text.startsWith(u'[')) {
        const qsizetype closing = text.indexOf(u']');
        if (closing < 0) {
            error = QStringLiteral("数据库地址中的 IPv6 地址缺少 ]");
            return false;
        }
        address.host = text.mid(1, closing - 1).toString();
        colon = closing + 1 < text.size() && text[closing + 1] == u':' ? closing + 1 : -1;
    } else {
        address.host = Decoded(colon < 0 ? text : text.left(colon));
    }
    return colon < 0 || colon + 1 == text.size() || SetPort(address, text.mid(colon + 1).toString(), error);
}

} // namespace

QString ServerAddress::Shown() const
{
    QString shownHost = host.isEmpty() ? qEnvironmentVariable("PGHOST", kDefaultSocketFolder) : host;
    if (shownHost.contains(u':'))
        shownHost = u'[' + shownHost + u']';
    const QString shownPort = port > 0 ? QString::number(port) : qEnvironmentVariable("PGPORT", QStringLiteral("5432"));
    return shownHost + u':' + shownPort;
}

bool IsServerLocation(const QString &location)
{
    for (const QString &scheme : kSchemes)
        if (location.startsWith(scheme, Qt::CaseInsensitive))
            return true;
    return false;
}

QString ShownLocation(const QString &location)
{
    if (!IsServerLocation(location))
        return location;
    // user:password@ before the host, and password=… among the parameters.
    static const QRegularExpression kUserPassword(QStringLiteral("^([a-z]+://[^:@/?]*:)[^@/?]*@"),
                                                  QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kPasswordParameter(QStringLiteral("([?&]password=)[^&]*"),
                                                       QRegularExpression::CaseInsensitiveOption);
    return QString(location)
        .replace(kUserPassword, QStringLiteral("\\1***@"))
        .replace(kPasswordParameter, QStringLiteral("\\1***"));
}

std::optional<ServerAddress> ParseServerAddress(const QString &location, QString &error)
{
    QStringView rest(location);
    for (const QString &scheme : kSchemes)
        if (rest.startsWith(scheme, Qt::CaseInsensitive))
            rest = rest.mid(scheme.size());
    if (rest.size() == location.size()) {
        error = QStringLiteral("数据库地址应以 postgresql:// 开头");
        return std::nullopt;
    }
    ServerAddress address;
    const qsizetype query = rest.indexOf(u'?');
    const QStringView parameters = query < 0 ? QStringView() : rest.mid(query + 1);
    rest = rest.left(query < 0 ? rest.size() : query);
    const qsizetype slash = rest.indexOf(u'/');
    if (slash >= 0)
        address.database = Decoded(rest.mid(slash + 1));
    QStringView authority = rest.left(slash < 0 ? rest.size() : slash);
    if (const qsizetype at = authority.lastIndexOf(u'@'); at >= 0) {
        const QStringView user = authority.left(at);
        const qsizetype colon = user.indexOf(u':');
        address.user = Decoded(user.left(colon < 0 ? user.size() : colon));
        if (colon >= 0)
            address.password = Decoded(user.mid(colon + 1));
        authority = authority.mid(at + 1);
    }
    if (!SetHostAndPort(address, authority, error))
        return std::nullopt;

    QStringList given;
    static const QRegularExpression kKey(QStringLiteral("^[a-z_]+$"));
    for (QStringView parameter : parameters.split(u'&', Qt::SkipEmptyParts)) {
        const qsizetype equals = parameter.indexOf(u'=');
        const QString key = Decoded(parameter.left(equals < 0 ? 0 : equals));
        const QString value = Decoded(parameter.mid(equals + 1));
        // Qt's driver reads its options separated by semicolons.
        if (equals < 0 || !kKey.match(key).hasMatch() || value.contains(u';')) {
            error = QStringLiteral("数据库地址中的参数应为 名称=值（值中不能有分号）：%1")
                        .arg(key == u"password" ? QStringLiteral("password=***") : parameter.toString());
            return std::nullopt;
        }
        if (key == u"host")
            address.host = value;
        else if (key == u"port" && !SetPort(address, value, error))
            return std::nullopt;
        else if (key == u"dbname")
            address.database = value;
        else if (key == u"user")
            address.user = value;
        else if (key == u"password")
            address.password = value;
        else if (key != u"port")
            address.options << key + u'=' + Quoted(value);
        given << key;
    }
    // libpq waits on an unanswered connection for ever unless told otherwise, and a server gone
    // silent (a partition, a frozen host) holds a statement for the minutes of TCP's retries.
    static const std::pair<QString, QString> kDefaults[] = {
        {QStringLiteral("connect_timeout"), QString::number(std::min<qint64>(10, ServerAnswerLimit().count()))},
        {QStringLiteral("keepalives"), QStringLiteral("1")},
        {QStringLiteral("keepalives_idle"), QStringLiteral("10")},
        {QStringLiteral("keepalives_interval"), QStringLiteral("5")},
        {QStringLiteral("keepalives_count"), QStringLiteral("4")},
        {QStringLiteral("tcp_user_timeout"), QStringLiteral("30000")},
        {QStringLiteral("application_name"), QStringLiteral("vantorel")},
    };
    for (const auto &[key, value] : kDefaults)
        if (!given.contains(key))
            address.options << key + u'=' + value;
    return address;
}

} // namespace vantorel
