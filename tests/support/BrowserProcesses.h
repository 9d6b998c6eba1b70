#pragma once

#include <HeadlessBrowser.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStringList>

// Not under the thread sanitizer, which stops a process starting threads once it has forked one.
inline bool HaveChromium()
{
#if defined(__SANITIZE_THREAD__)
    return false;
#else
    return !QStandardPaths::findExecutable(vantorel::BrowserProgram()).isEmpty();
#endif
}

// The child processes of this one (a browser's among them), as the kernel lists them.
inline QStringList ChildProcesses()
{
    QStringList children;
    for (const QString &task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(QStringLiteral("/proc/self/task/%1/children").arg(task));
        if (file.open(QIODevice::ReadOnly))
            children << QString::fromLatin1(file.readAll()).split(u' ', Qt::SkipEmptyParts);
    }
    return children;
}
