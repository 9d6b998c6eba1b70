#pragma once

#include <RunChanges.h>

#include <QWidget>

#include <functional>

namespace vantorel {

// "外链约定": the target (a page of the domain), anchor and follow agreed for the link on one
// address, shown as current; done gets the agreement once it is accepted (an empty one clears
// it), never when cancelled.
void AskLinkExpectation(QWidget *parent, const QString &domain, const QString &address, const LinkExpectation &current,
                        std::function<void(const LinkExpectation &)> done);

} // namespace vantorel
