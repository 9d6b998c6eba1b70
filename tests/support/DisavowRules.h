#pragma once

#include <QByteArray>
#include <QString>

namespace vantorel {

// What the search console says of a disavow file, read from its own rules rather than from the
// code that writes one: valid UTF-8, at most 100,000 lines and 2 MB, each line a comment (#),
// "domain:" and a host, or an http(s) address of at most 2,048 characters. The first rule broken
// and its line; empty when the file keeps them all.
QString DisavowRulesBroken(const QByteArray &file);

} // namespace vantorel
