#pragma once

#include <QString>
#include <QStringView>

namespace vantorel {

// The host in what the user typed or pasted: white space and control characters trimmed at
// both ends; scheme, user info, port, path, query and fragment dropped; a trailing dot dropped;
// ASCII letters lower-cased. Empty when no host is left.
QString ReduceToHost(QStringView typed);

// True when the page text contains the domain, case ignored; an internationalised domain also
// matches its punycode form, and the other way round. An empty domain matches nothing.
bool PageMentionsDomain(QStringView page, QStringView domain);

// The address to fetch or open for a grid cell: an address that names http:// or https://
// keeps it, any other gets "http://" in front.
QString RowUrl(QStringView address);

} // namespace vantorel
