#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <vector>

namespace vantorel {

// A site's robots.txt as crawlers read it: groups of rules by user agent, each rule an Allow or
// Disallow path pattern with "*" for any characters and a final "$" for the path's end; of the
// rules that match a path the longest decides, Allow on a tie. A crawler follows the groups that
// name it (in any case), else those for "*", else nothing bars it.
class RobotsTxt {
public:
    RobotsTxt() = default; // bars nothing: a robots.txt missing, failing or empty
    static RobotsTxt Parse(QByteArrayView text);

    // agent: the crawler's product token ("Googlebot"), or "*" for any crawler without a group of its own.
    bool Allows(QStringView agent, const QUrl &url) const;

private:
    struct Rule {
        QByteArray pattern; // percent-encoded as a URL's path is
        bool allow = false;
    };
    struct Group {
        QStringList agents; // lower case
        std::vector<Rule> rules;
    };
    std::vector<Group> groups_;
};

// The crawlers whose reading of robots.txt bars the page, of "*", "Googlebot" and "Baiduspider",
// in that order and joined by ", "; empty when none is barred.
QString BarredCrawlers(const RobotsTxt &robots, const QUrl &url);

// Where a page's robots.txt is: its scheme, host and port, path /robots.txt.
QString RobotsTxtUrl(const QUrl &page);

} // namespace vantorel
