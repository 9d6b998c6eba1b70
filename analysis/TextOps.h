#pragma once

#include <QString>
#include <QStringView>

namespace vantorel {

// Text helpers with the program's 1-based positions (0 means "not found").

// Position of the first occurrence of pattern that begins at or after start; exact and
// case-sensitive. An empty pattern is found at start when start lies inside the text.
qint32 Find(QStringView text, QStringView pattern, qint32 start = 1);

// At most length characters from start; empty when start lies beyond the end or length < 1.
QStringView Excerpt(QStringView text, qint32 start, qint32 length);

// Removes leading and trailing U+0020 only; tabs and line breaks stay.
QStringView TrimSpaces(QStringView text);

// ASCII only: the digits and letters of other scripts are none of these.
constexpr bool IsAsciiDigit(char32_t c)
{
    return c >= u'0' && c <= u'9';
}
constexpr bool IsAsciiHexDigit(char32_t c)
{
    return IsAsciiDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}
constexpr bool IsAsciiAlnum(char32_t c)
{
    return IsAsciiDigit(c) || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

} // namespace vantorel
