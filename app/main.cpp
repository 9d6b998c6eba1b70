#include "FormMain.h"
#include "SkinH.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("vantorel")); // ties the window to vantorel.desktop
    vantorel::SkinH_Attach();
    vantorel::FormMain window;
    window.show();
    return app.exec();
}
