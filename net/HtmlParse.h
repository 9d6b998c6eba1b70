#pragma once

#include <QByteArrayView>

#include <libxml/HTMLparser.h>

namespace vantorel {

// White space as HTML reads it between tokens and around values: tab, line feed, form feed,
// carriage return and space.
constexpr bool IsHtmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// The program's one HTML parser: libxml2's, forgiving as browsers are, driven by SAX callbacks
// so that no tree is built (a page may nest a million elements). Tag and attribute names reach
// the callbacks in lower case; text and values in UTF-8. encoding names the bytes' encoding as
// libxml2 knows it ("UTF-8", "ISO-8859-1").
void ParseHtml(QByteArrayView bytes, const char *encoding, const htmlSAXHandler &handler, void *userData);

} // namespace vantorel
