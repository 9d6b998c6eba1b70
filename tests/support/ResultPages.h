#pragma once

// Search result pages written for the tests, in the engine's markup, and their GBK bytes.

#include <QString>

#include <string>
#include <vector>

struct SearchResult {
    QString address; // without "http://"
    bool paid = false;
};

// A result page: the count sentence (when countText is not null), the no-results sentence
// (when noResults), then one block per result. Organic blocks are long enough that the
// excerpt read after one result's link never reaches the next result.
QString SearchResultPage(const QString &countText, const std::vector<SearchResult> &results,
                         bool noResults = false);

// The text encoded the way the engine serves it (cp936).
std::string GbkBytes(const QString &text);
