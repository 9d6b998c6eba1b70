#include "FormMain.h"
#include "SkinH.h"

#include <CheckCommand.h>
#include <Network.h>

#include <QApplication>

#include <cstdio>
#include <unistd.h>

namespace {

void Write(std::FILE *stream, const QString &text)
{
    std::fputs(text.toUtf8().constData(), stream);
}

} // namespace

int main(int argc, char *argv[])
{
    // Before any other thread exists: curl's global set-up is not thread-safe.
    if (!vantorel::InitNetwork()) {
        std::fputs("vantorel: the network library could not be initialised\n", stderr);
        return 1;
    }
    QCoreApplication::setApplicationName(QStringLiteral("vantorel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTOREL_VERSION));

    // Read before any application object exists: a check must not connect to a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const vantorel::CommandLine line = vantorel::ParseCommandLine(arguments, ::isatty(STDOUT_FILENO) == 1);
    if (!line.error.isEmpty()) {
        Write(stderr, QStringLiteral("vantorel: %1\n用法见 vantorel --help\n").arg(line.error));
        return vantorel::kExitUsage;
    }
    if (line.help || line.version) {
        Write(stdout, line.help ? vantorel::HelpText() : vantorel::VersionText());
        return 0;
    }
    if (line.checkDomain) {
        QCoreApplication app(argc, argv);
        return vantorel::RunCheck(line);
    }

    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("com.quillmere.Vantorel")); // ties the window to its .desktop entry
    vantorel::SkinH_Attach();
    vantorel::AnalysisSettings settings;
    settings.jobs = line.jobs;
    vantorel::FormMain window(std::move(settings));
    window.show();
    return app.exec();
}
