#pragma once

#include <FetchResult.h>

#include <QString>
#include <QStringView>

#include <optional>

namespace vantorel {

// Which bot challenge an answer is, in the words of the row's cause ("cf-mitigated: challenge",
// "Cloudflare「Just a moment...」"); nothing when it is an ordinary page. A challenge stands
// between the visitor and the page, so it says nothing of the link. pageText: the decoded body.
std::optional<QString> BotChallenge(const FetchResult &answer, QStringView pageText);

} // namespace vantorel
