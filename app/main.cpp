#include "FormMain.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    FormMain window;
    window.show();
    return app.exec();
}
