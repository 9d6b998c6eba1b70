#include "FormMain.h"
#include "SkinH.h"

#include <FetchPage.h>

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // The HTTP client is set up once, before the application starts any thread.
    if (!InitNetwork()) {
        std::fputs("vantorel: cannot set up the HTTP client\n", stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("vantorel")); // ties the window to vantorel.desktop
    vantorel::SkinH_Attach();
    vantorel::FormMain window;
    window.show();
    return app.exec();
}
