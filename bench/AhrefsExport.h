#pragma once

// A backlink export shaped as Ahrefs documents its columns (written here, never copied from the
// tool): UTF-16 LE with a byte order mark, tab-separated, a header row, then rows whose titles
// and contexts hold Chinese text and quoted cells; for the list reader's and the window's
// benchmarks.

#include <QByteArray>
#include <QString>
#include <QStringConverter>

namespace vantorel::bench {

inline QByteArray AhrefsShapedExport(int rows)
{
    QString text = QStringLiteral(
        "Referring page title\tReferring page URL\tLanguage\tPlatform\tReferring page HTTP code\tDomain rating\t"
        "URL rating\tDomain traffic\tReferring domains\tLinked domains\tExternal links\tPage traffic\tKeywords\t"
        "Target URL\tLeft context\tAnchor\tRight context\tType\tContent\tNofollow\tUGC\tSponsored\tRendered\tRaw\t"
        "Lost status\tDrop reason\tDiscovered status\tFirst seen\tLast seen\tLost\n");
    text.reserve(static_cast<qsizetype>(rows) * 400);
    for (int i = 0; i < rows; ++i) {
        const QString n = QString::number(i);
        text += QStringLiteral("\"友情链接 %1：网站推荐, \"\"精选\"\"\"\thttps://blog%2.example.org/2024/05/post-%1.html\tzh\t"
                               "WordPress\t200\t%3\t12\t%1\t%4\t45\t120\t30\t8\thttps://example.com/\t"
                               "更多站长工具请看\t示例网站\t，每天更新。\ttext\ttrue\t%5\tfalse\tfalse\ttrue\ttrue\t\t\t"
                               "linkfound\t2024-01-%6T08:30:00Z\t2024-05-%6T10:15:00Z\t\n")
                    .arg(n, QString::number(i % 500), QString::number(i % 90), QString::number(i % 700),
                         i % 3 ? QStringLiteral("false") : QStringLiteral("true"), QString::number(10 + i % 18));
    }
    QStringEncoder encoder(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
    return encoder.encode(text);
}

} // namespace vantorel::bench
