#include "TextOps.h"

namespace vantorel {

qint32 Find(QStringView text, QStringView pattern, qint32 start)
{
    if (start < 1 || start > text.size())
        return 0;
    const qsizetype index = text.indexOf(pattern, start - 1);
    return index < 0 ? 0 : static_cast<qint32>(index + 1);
}

QStringView Excerpt(QStringView text, qint32 start, qint32 length)
{
    if (start < 1 || start > text.size() || length < 1)
        return {};
    return text.mid(start - 1, length);
}

QStringView TrimSpaces(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.sliced(begin, end - begin);
}

} // namespace vantorel
