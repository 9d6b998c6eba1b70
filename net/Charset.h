#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

namespace vantorel {

// The WHATWG encoding name for a label (ASCII case-insensitive, surrounding white space
// ignored), or nothing. Only the encodings this program can decode have labels here: the
// "replacement" and "x-user-defined" encodings and ISO-8859-16 (absent from ICU) are unknown.
std::optional<QString> EncodingForLabel(QByteArrayView label);

// The ICU converter that decodes what a label names, or nullptr for an unknown label. Both
// Chinese encodings (GBK and gb18030) answer "gb18030": GBK's decoder is gb18030's.
const char *IcuConverterForLabel(QByteArrayView label);

struct CharsetDecision {
    QString encoding; // WHATWG name, e.g. "UTF-8", "gb18030", "Big5"
    enum class Source { Bom, Header, Meta, Utf8Bytes, Default } source;
};

// Picks the encoding of a page as a browser does: its byte order mark; else the charset
// parameter of its Content-Type header; else a <meta> naming a charset within its first
// 1,024 bytes; else UTF-8 when the bytes are well-formed UTF-8 beyond ASCII, which text in any
// other encoding almost never is; else defaultLabel (GBK when that label is unknown too). A label no encoding
// answers to at one step leaves the choice to the next.
CharsetDecision DecideCharset(QByteArrayView body, QByteArrayView contentTypeHeader, QStringView defaultLabel);

} // namespace vantorel
