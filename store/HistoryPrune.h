#pragma once

#include "RunChanges.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

#include <optional>

namespace vantorel {

// Deletes the runs of the site (every site when domain is empty) started before before, but
// those that hold a change (a check whose state differs from the address's check before it, or
// the check it differs from, or one that could not be had), hold an address's latest check,
// are searches (the next search tells what is no longer listed against them) or never
// completed. The states no check keeps go with them. Inside the caller's writing transaction; how many runs went, or nothing
// with the error.
std::optional<qint64> PruneRuns(QSqlDatabase &db, const QString &domain, const QDateTime &before, QSqlError &error);

// Gives the space deleted rows left back to the file system: a file kept with incremental
// vacuum frees its empty pages; an older file is rewritten once into that form. Outside any
// transaction; nothing to do on a server.
bool GiveSpaceBack(QSqlDatabase &db, QSqlError &error);

// Stops re-checking the site's address until a search or a list names it again; false when the
// history holds no such address.
bool ForgetAddress(QSqlDatabase &db, const QString &domain, const QString &address, QSqlError &error);
// Sets the link agreed for the site's address, or clears it (an empty agreement); false when the
// history holds no such address.
bool AgreeLink(QSqlDatabase &db, const QString &domain, const QString &address, const LinkExpectation &agreed, QSqlError &error);
// What forgetting an address does, in a line.
QString ForgottenText(const QString &domain, const QString &address);
// What agreeing a link on an address (or clearing it) did, in a line, with what the address's
// latest check that could be had already breaks of it: the checks after it tell a break only
// when it is new.
QString AgreedText(const QString &address, const LinkExpectation &agreed, const std::optional<AddressCheck> &latest);

} // namespace vantorel
