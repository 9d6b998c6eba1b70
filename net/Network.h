#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace vantorel {

// Sets up the HTTP client for the whole process. main() calls it once, before any thread
// exists, and stops when it fails.
bool InitNetwork();

// Where the certificates that verify a server come from.
struct CaStore {
    QByteArray file;      // a bundle of certificates; empty: none
    QByteArray directory; // hashed certificate files; empty: none
    bool operator==(const CaStore &) const = default;
};

// The user's CURL_CA_BUNDLE, else SSL_CERT_FILE, alone; else the library's own file, with
// SSL_CERT_DIR when set, or the library's directory only when it has no file. A directory makes
// the HTTP client parse the whole store for every new connection; a file alone is parsed once
// and kept.
CaStore ChooseCaStore(const CaStore &library, const std::function<QByteArray(const char *)> &environment);

// ChooseCaStore on this process's environment as it is now and libcurl's defaults.
CaStore TransferCaStore();

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
