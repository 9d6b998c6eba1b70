#pragma once

#include <QString>
#include <QStringView>

namespace vantorel {

// The host in what the user typed or pasted: white space and control characters trimmed at
// both ends; scheme, user info, port, path, query and fragment dropped; a trailing dot dropped;
// ASCII letters lower-cased. Empty when no host is left.
QString ReduceToHost(QStringView typed);

// True when host can be checked: a name of at least two dot-separated labels of letters, digits
// and hyphens, each 1 to 63 characters and 253 in all once in its ASCII (punycode) form, or an
// IPv4 address in dotted decimal, or an IPv6 address in brackets. A final root dot is allowed.
bool IsCheckableHost(QStringView host);

// The site a domain names: a leading "www." is no part of it, unless nothing with a dot would be
// left ("www.com").
QStringView SiteDomain(QStringView domain);

// The key a site's history is kept under, from any form of its name: the host reduced, lower
// case, without a trailing dot or a leading "www." (as SiteDomain), an internationalised name as
// punycode. "http://WWW.Watch.CN./path" and "watch.cn" have one key, and so have "中文.com" and
// "xn--fiq228c.com". Empty when no host is left.
QString SiteKey(QStringView typed);
// A key as people read it: an internationalised name in Unicode.
QString SiteShown(const QString &key);

// True when the page text names the site of domain as a host of its own: case ignored, and at
// host boundaries, so "notexample.com", "my-example.com" and "example.com.cn" do not name
// example.com while "blog.example.com" and "（example.com）" do. An internationalised domain
// also matches its punycode form, and the other way round. An empty domain matches nothing.
bool PageMentionsDomain(QStringView page, QStringView domain);

inline constexpr QStringView kHttpScheme = u"http://";
inline constexpr QStringView kHttpsScheme = u"https://";

// kHttpScheme or kHttpsScheme when address begins with it (ASCII case ignored), else empty.
QStringView HttpScheme(QStringView address);

// The address to fetch or open for a grid cell: an address that names http:// or https://
// keeps it, any other gets "http://" in front.
QString RowUrl(QStringView address);

} // namespace vantorel
