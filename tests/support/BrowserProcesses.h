#pragma once

#include <HeadlessBrowser.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStringList>

inline bool HaveChromium()
{
    return !QStandardPaths::findExecutable(vantorel::BrowserProgram()).isEmpty();
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
