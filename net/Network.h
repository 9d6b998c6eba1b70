#pragma once

#include <QByteArray>
#include <QString>

namespace vantorel {

// Sets up the HTTP client for the whole process. main() calls it once, before any thread
// exists, and stops when it fails.
bool InitNetwork();

// How many transfers at once the process's descriptor limit allows, and why fewer than asked.
struct DescriptorBudget {
    int jobs = 0;
    QString warning; // empty when every job asked for fits
};

// Raises the soft RLIMIT_NOFILE towards the hard limit when it is below what the given number
// of transfers in flight needs; when it cannot go high enough, says so and how many fit.
DescriptorBudget RaiseDescriptorLimit(int jobs);

// The URL bytes handed to the HTTP client: UTF-8, with every non-ASCII byte, space, control
// character and DEL percent-encoded and everything else left as it stands.
QByteArray UrlForRequest(const QString &url);

} // namespace vantorel
