#pragma once

#include <QMargins>
#include <QRect>
#include <QtGlobal>

#include <initializer_list>

class QLabel;
class QPushButton;
class QString;
class QWidget;

namespace vantorel {

// Positions and sizes are designed in twips (1/1440 inch): 15 to a pixel at 96 dpi.
inline int TwipsToPixels(int twips, int dotsPerInch)
{
    return qRound(twips * dotsPerInch / 1440.0);
}

// Labels size themselves to their text, one line high, top-left corner fixed; a text too
// wide for the label's container is cut off at the container's edge.
void SetLabelText(QLabel *label, const QString &text);

// Where a window of the given client size first opens: centred in the available area of its
// screen, frame included; shrunk to fit when the area is smaller than the window.
QRect InitialClientGeometry(QSize client, QMargins frame, QRect available);

// A button that Enter in another control never presses.
QPushButton *MakeButton(QWidget *parent, const char *name, const QString &caption);

// What a screen reader says of each control.
struct AccessibleText {
    QWidget *widget;
    const char16_t *name;
    const char16_t *description;
};
void DescribeControls(std::initializer_list<AccessibleText> controls);

} // namespace vantorel
