#include "FormMain.h"
#include "HistoryLocation.h"
#include "SkinH.h"

#include <CheckCommand.h>
#include <ConsoleStreams.h>
#include <HistoryDatabase.h>
#include <Network.h>

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void Write(std::FILE *stream, const QString &text)
{
    std::fputs(text.toUtf8().constData(), stream);
}

// Qt's own texts (dialog buttons, file dialogs, the command-line parser) in Chinese, like ours.
void InstallQtTranslations(QCoreApplication &app)
{
    auto *translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
}

bool HasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char *argv[])
{
    // Page bodies of up to 16 MiB come and go by the hundred: each large one is mapped on its own
    // and given back when freed. Left to itself, glibc raises this threshold past the first
    // freed body and keeps the pages of the bodies after it in the heap.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    // A run's end is stored and read back on pool threads: with an arena of their own each, they
    // grew the heap by some 45 MiB at the end of a run of 100,000 while the run's freed memory
    // sat in the other arenas. Two arenas keep that room shared, at no measurable cost in CPU.
    mallopt(M_ARENA_MAX, 2);
    // What the program writes (the history, its settings with webhook addresses, exports) is its
    // user's alone.
    ::umask(077);
    vantorel::SilenceDriverWarnings();
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
    const bool outputIsTerminal = ::isatty(STDOUT_FILENO) == 1;
    vantorel::CommandLine line = vantorel::ParseCommandLine(arguments, outputIsTerminal);
    const bool needsWindow = line.error.isEmpty() && !line.help && !line.version && !line.Headless();
    if (!needsWindow) {
        vantorel::IgnoreClosedPipes();
        QCoreApplication app(argc, argv);
        InstallQtTranslations(app);
        line = vantorel::ParseCommandLine(arguments, outputIsTerminal); // the parser's own words translated
        if (!line.error.isEmpty()) {
            Write(stderr, QStringLiteral("vantorel: %1\n用法见 vantorel --help\n").arg(line.error));
            return vantorel::kExitUsage;
        }
        if (line.help || line.version) {
            vantorel::ConsoleStreams streams;
            streams.Out((line.help ? vantorel::HelpText() : vantorel::VersionText()).toUtf8());
            return streams.ReportFailure() ? vantorel::kExitOutputFailed : 0;
        }
        if (line.command != vantorel::Command::CopyHistory && (line.storeRun || line.command != vantorel::Command::Check))
            if (const QString note = vantorel::HistoryLocationNote(line.historyFile.value_or(vantorel::DefaultHistoryPath()));
                !note.isEmpty())
                Write(stderr, note + u'\n');
        return vantorel::RunCheck(line);
    }

    if (!HasDisplay()) {
        Write(stderr, QStringLiteral("vantorel：找不到图形显示，无法打开窗口。没有显示器时可在虚拟显示中启动："
                                     "xvfb-run -a vantorel；或用 vantorel --check 域名 在命令行中检测。\n"));
        return 1;
    }
    QApplication app(argc, argv);
    InstallQtTranslations(app);
    // Qt's own dialogs rather than the desktop's, which speak the system's language; their dates
    // and sizes in Chinese too.
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.quillmere.Vantorel")); // ties the window to its .desktop entry
    vantorel::SkinH_Attach();
    vantorel::AnalysisSettings settings;
    settings.render = vantorel::LoadRenderMode();
    settings.checkTargets = vantorel::LoadTargetChecks();
    if (line.jobs)
        settings.jobs = settings.listJobs = *line.jobs;
    if (const QString warning = vantorel::FitDescriptorBudget(settings); !warning.isEmpty())
        Write(stderr, warning + u'\n');
    // --db for this window only; otherwise the location the window was told to keep.
    vantorel::FormMain window(std::move(settings), line.historyFile.value_or(vantorel::LoadHistoryLocation().Location()));
    window.show();
    return app.exec();
}
