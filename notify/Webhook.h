#pragma once

#include "ChangeNotice.h"

#include <FetchResult.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>

namespace vantorel {

// The team chats whose incoming webhooks take a text message of their own form.
enum class ChatService { None, WeCom, DingTalk, Feishu, Slack };
ChatService ChatServiceOf(const QString &url);

// Why url cannot take a notice, in words for a usage error, or empty when it can: an address
// with http:// or https://, and https:// for the chat services, whose addresses are secrets.
QString WebhookAddressProblem(const QString &url);

// The webhook addresses in a text (a file, VANTOREL_NOTIFY_URLS): separated by white space,
// each "#" starting a comment to the end of its line.
QStringList WebhookAddressesIn(const QString &text);

// What messages may show of a webhook address: its scheme and host, "https://hooks.slack.com/…".
QString ShownWebhook(const QString &url);

// Whether a run is worth a POST: it has a change other than 仍无法访问.
bool WorthPosting(const ChangeNotice &notice);

// The body POSTed to url: for a chat service its text message, one change a line (at most 20,
// then "等 N 条"); else a JSON object with the domain, the run and its changes. 仍无法访问 is
// left out of both.
QByteArray WebhookBody(const QString &url, const ChangeNotice &notice);

struct WebhookPolicy {
    FetchLimits limits{std::chrono::seconds(10), std::chrono::seconds(10), 1024 * 1024, 3};
    std::chrono::milliseconds retryPause{1000}; // one more try after a failure that may pass
};

// POSTs the notice to each address, when it is worth it, trying a failed POST once more when
// the failure may pass (no answer, 429, 5xx); a redirect is a failure, and not followed. Returns
// one line per address that failed, "通知发送失败：<host>（HTTP 500）", naming only the host:
// the rest of the address is the webhook's secret. Blocks: never on the window's thread.
QStringList PostNotice(const QStringList &urls, const ChangeNotice &notice, const WebhookPolicy &policy = {});

} // namespace vantorel
