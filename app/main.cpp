#include "FormMain.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("vantorel")); // ties the window to vantorel.desktop
    FormMain window;
    window.show();
    return app.exec();
}
