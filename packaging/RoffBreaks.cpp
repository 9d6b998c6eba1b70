// Copies a roff page, letting lines break between Chinese characters as Chinese text is set:
// groff finds no break in a run of them without spaces and would run such a line past the
// page's edge. A break is a zero-width \: after a CJK character, never before closing
// punctuation or after opening punctuation, and never on a request line.

#include <QFile>
#include <QString>
#include <QStringView>

#include <cstdio>

namespace {

bool IsCjk(char32_t c)
{
    return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF);
}

bool OpensText(char32_t c)
{
    return QStringView(u"（「『《〈【“‘").contains(QChar(c));
}

bool ClosesText(char32_t c)
{
    return QStringView(u"，。、：；！？）」』》〉】”’…").contains(QChar(c));
}

QString WithBreaks(QStringView line)
{
    if (line.startsWith(u'.') || line.startsWith(u'\''))
        return line.toString();
    QString out;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char32_t c = line[i].unicode();
        out += line[i];
        if (i + 1 < line.size() && IsCjk(c) && !OpensText(c) && !ClosesText(line[i + 1].unicode()) &&
            line[i + 1] != u' ' && line[i + 1] != u'\\')
            out += QStringLiteral("\\:");
    }
    return out;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fputs("usage: vantorel_roff_breaks IN OUT\n", stderr);
        return 2;
    }
    QFile in(QString::fromLocal8Bit(argv[1]));
    QFile out(QString::fromLocal8Bit(argv[2]));
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "vantorel_roff_breaks: cannot open %s or %s\n", argv[1], argv[2]);
        return 1;
    }
    const QString text = QString::fromUtf8(in.readAll());
    QString page;
    for (const QStringView line : QStringView(text).split(u'\n'))
        page += WithBreaks(line) + u'\n';
    page.chop(1);
    return out.write(page.toUtf8()) >= 0 && out.flush() ? 0 : 1;
}
