#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace vantorel {

// Turns response bytes into text under an encoding label or WHATWG name (Charset.h); an
// unknown label reads as GBK. A broken or cut-off sequence becomes U+FFFD and the rest of the
// text follows. A byte order mark stays in the text as U+FEFF.
QString DecodeBody(QByteArrayView body, QStringView encoding);

// A page's text: DecideCharset picks the encoding, and the byte order mark it went by is no
// part of the text. When neither that mark nor the header chose, the first <meta> of the whole
// page that names an encoding has the last word, as when a browser's parser meets it. The
// encoding read in is told through encoding when given.
QString DecodePage(QByteArrayView body, QByteArrayView contentTypeHeader, QStringView defaultLabel,
                   QString *encoding = nullptr);

} // namespace vantorel
