#include "RobotsTxt.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace vantorel {

namespace {

// Crawlers read at most this much of a robots.txt.
constexpr qsizetype kReadBytes = 500 * 1024;

// A pattern's bytes as a URL spells them: anything outside printable ASCII percent-encoded, a
// percent sign's hex digits in upper case.
QByteArray EncodedPattern(QByteArrayView value)
{
    QByteArray pattern;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        if (c == '%' && i + 2 < value.size() && std::isxdigit(static_cast<unsigned char>(value[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(value[i + 2]))) {
            pattern += '%';
            pattern += static_cast<char>(std::toupper(static_cast<unsigned char>(value[i + 1])));
            pattern += static_cast<char>(std::toupper(static_cast<unsigned char>(value[i + 2])));
            i += 2;
        } else if (c <= 0x20 || c >= 0x7f) {
            pattern += '%';
            pattern += QByteArray::number(c, 16).rightJustified(2, '0').toUpper();
        } else {
            pattern += static_cast<char>(c);
        }
    }
    return pattern;
}

// Whether pattern matches the start of path ("*": any run of characters; "$" at its end: the
// path ends there). Greedy with one point to return to, as for any glob of stars alone.
bool Matches(QByteArrayView pattern, QByteArrayView path)
{
    const bool anchored = pattern.endsWith('$');
    if (anchored)
        pattern.chop(1);
    qsizetype p = 0, s = 0;
    std::optional<std::pair<qsizetype, qsizetype>> star; // after the last '*', and where its run ends
    while (true) {
        if (p == pattern.size() && (!anchored || s == path.size()))
            return true;
        if (p < pattern.size() && pattern[p] == '*') {
            star = {++p, s};
            continue;
        }
        if (p < pattern.size() && s < path.size() && pattern[p] == path[s]) {
            ++p;
            ++s;
            continue;
        }
        if (!star || star->second >= path.size())
            return false;
        p = star->first;
        s = ++star->second;
    }
}

} // namespace

RobotsTxt RobotsTxt::Parse(QByteArrayView text)
{
    RobotsTxt robots;
    text = text.first(std::min(text.size(), kReadBytes));
    bool groupHasRules = true; // the next User-agent starts a group
    qsizetype begin = 0;
    while (begin < text.size()) {
        qsizetype end = begin;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r')
            ++end;
        QByteArrayView line = text.sliced(begin, end - begin);
        begin = end + 1;
        if (const qsizetype hash = line.indexOf('#'); hash >= 0)
            line = line.first(hash);
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray field = line.first(colon).trimmed().toByteArray().toLower();
        const QByteArrayView value = line.sliced(colon + 1).trimmed();
        if (field == "user-agent") {
            if (groupHasRules) {
                robots.groups_.emplace_back();
                groupHasRules = false;
            }
            // The product token alone: "Googlebot/2.1" is Googlebot.
            const qsizetype token = std::find_if(value.begin(), value.end(),
                                                 [](char c) { return c == '/' || c == ' ' || c == '\t'; }) - value.begin();
            robots.groups_.back().agents << QString::fromUtf8(value.first(token)).toLower();
        } else if ((field == "allow" || field == "disallow") && !robots.groups_.empty()) {
            groupHasRules = true;
            if (!value.isEmpty()) // an empty Disallow bars nothing
                robots.groups_.back().rules.push_back({EncodedPattern(value), field == "allow"});
        }
    }
    return robots;
}

bool RobotsTxt::Allows(QStringView agent, const QUrl &url) const
{
    QByteArray path = url.path(QUrl::FullyEncoded).toUtf8();
    if (path.isEmpty())
        path = "/";
    if (path == "/robots.txt")
        return true;
    if (url.hasQuery())
        path += '?' + url.query(QUrl::FullyEncoded).toUtf8();
    const QString wanted = agent.toString().toLower();
    const auto rulesFor = [&](const QString &name) {
        std::vector<const Rule *> rules;
        for (const Group &group : groups_)
            if (group.agents.contains(name))
                for (const Rule &rule : group.rules)
                    rules.push_back(&rule);
        return rules;
    };
    const bool named = std::any_of(groups_.begin(), groups_.end(), [&](const Group &group) { return group.agents.contains(wanted); });
    const std::vector<const Rule *> rules = rulesFor(named ? wanted : QStringLiteral("*"));
    const Rule *decides = nullptr;
    for (const Rule *rule : rules) {
        if (!Matches(rule->pattern, path))
            continue;
        if (!decides || rule->pattern.size() > decides->pattern.size() ||
            (rule->pattern.size() == decides->pattern.size() && rule->allow))
            decides = rule;
    }
    return !decides || decides->allow;
}

QString BarredCrawlers(const RobotsTxt &robots, const QUrl &url)
{
    QStringList barred;
    for (const QStringView crawler : {u"*", u"Googlebot", u"Baiduspider"})
        if (!robots.Allows(crawler, url))
            barred << crawler.toString();
    return barred.join(QStringLiteral(", "));
}

QString RobotsTxtUrl(const QUrl &page)
{
    QUrl robots;
    robots.setScheme(page.scheme());
    robots.setHost(page.host());
    robots.setPort(page.port());
    robots.setPath(QStringLiteral("/robots.txt"));
    return robots.toString();
}

} // namespace vantorel
