#include "SkinH.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

namespace vantorel {

void SkinH_Attach()
{
    if (QStyle *style = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(style);

    // A light blue-grey skin; the status line keeps its own red.
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(0xE8, 0xEE, 0xF6));
    palette.setColor(QPalette::WindowText, QColor(0x1F, 0x2A, 0x38));
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::AlternateBase, QColor(0xF3, 0xF6, 0xFA));
    palette.setColor(QPalette::Text, QColor(0x1F, 0x2A, 0x38));
    palette.setColor(QPalette::Button, QColor(0xDC, 0xE5, 0xF1));
    palette.setColor(QPalette::ButtonText, QColor(0x1F, 0x2A, 0x38));
    palette.setColor(QPalette::Highlight, QColor(0x3B, 0x75, 0xC4));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Mid, QColor(0xA9, 0xB8, 0xCC));
    palette.setColor(QPalette::Dark, QColor(0x7F, 0x92, 0xAB));
    // Every colour above was set for all states: what cannot be used now must look it.
    const QColor disabledText(0x8C, 0x98, 0xA8);
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabledText);
    QApplication::setPalette(palette);
}

} // namespace vantorel
