#include "FormMain.h"
#include "SkinH.h"

#include <FetchPage.h>

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Before any other thread exists: curl's global set-up is not thread-safe.
    if (!vantorel::InitNetwork()) {
        std::fputs("vantorel: the network library could not be initialised\n", stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vantorel"));
    QApplication::setApplicationVersion(QStringLiteral("1.5"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.quillmere.Vantorel")); // ties the window to its .desktop entry

    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption jobsOption(QStringLiteral("jobs"), QStringLiteral("同时下载的网页数（1 到 16，默认 8）"),
                                        QStringLiteral("N"), QStringLiteral("8"));
    parser.addOption(jobsOption);
    parser.process(app);
    bool isNumber = false;
    const int jobs = parser.value(jobsOption).toInt(&isNumber);
    if (!isNumber || jobs < 1 || jobs > 16) {
        std::fputs("vantorel: --jobs takes a number from 1 to 16\n", stderr);
        return 2;
    }

    vantorel::SkinH_Attach();
    vantorel::AnalysisSettings settings;
    settings.jobs = jobs;
    vantorel::FormMain window(std::move(settings));
    window.show();
    return app.exec();
}
