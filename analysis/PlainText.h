#pragma once

#include <QString>
#include <QStringView>

namespace vantorel {

// Text from outside the program (pages, addresses, the HTTP client, files) on its way to a
// widget. Qt renders a tool tip as rich text whenever it looks like markup, so every tool tip
// is built here, and nowhere else, from plain text.

// Plain text as a fixed piece of markup whose only tags are the program's own: the text is
// escaped, line breaks become <br>, a date and its time are joined by a no-break space, and
// bidirectional controls are shown as their code points so that a page cannot reorder what the
// user reads.
QString ToolTipMarkup(QStringView plain);

// Bidirectional override and isolate controls replaced by "[U+202E]" and the like.
QString WithVisibleBidiControls(QStringView text);

// A message for a box of its own: at most maxLines lines, each at most maxLineLength
// characters (shortened in the middle), so that the box fits on any screen.
QString FittedMessage(QStringView text, int maxLines = 20, int maxLineLength = 80);

} // namespace vantorel
