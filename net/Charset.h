#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

namespace vantorel {

// The WHATWG encoding name for a label (ASCII case-insensitive, surrounding white space
// ignored), or nothing. Every encoding WHATWG names has its labels here.
std::optional<QString> EncodingForLabel(QByteArrayView label);

// The ICU converter that decodes what a label names, or nullptr for an unknown label and for
// the encodings DecodeBody reads without ICU ("replacement", "x-user-defined", ISO-8859-16).
// Both Chinese encodings (GBK and gb18030) answer "gb18030": GBK's decoder is gb18030's.
const char *IcuConverterForLabel(QByteArrayView label);

// The encoding a browser's prescan finds in these bytes, read as they are (comments, tags and
// their attributes, never past the last byte given): the first <meta> with a charset, or with
// http-equiv="content-type" and a charset in its content; UTF-16 named there reads as UTF-8
// and x-user-defined as windows-1252. Failing that, when the bytes run out first, the encoding
// of an XML declaration at the start; a UTF-16 XML declaration without byte order mark says
// UTF-16LE or UTF-16BE. Nothing when none of them names an encoding.
std::optional<QString> PrescanEncoding(QByteArrayView bytes);

// The first <meta> that names an encoding anywhere in the bytes, read as PrescanEncoding reads
// one (which also sees a <meta> inside script or style text), without the XML declarations.
std::optional<QString> FirstMetaEncoding(QByteArrayView bytes);

struct CharsetDecision {
    QString encoding; // WHATWG name, e.g. "UTF-8", "gb18030", "Big5"
    enum class Source { Bom, Header, Meta, Utf8Bytes, Default } source;
};

// Picks the encoding of a page as a browser does: its byte order mark; else the charset
// parameter of its Content-Type header; else PrescanEncoding over its first 1,024 bytes
// (Source::Meta); else UTF-8 when the bytes are well-formed UTF-8 beyond ASCII, which text in
// any other encoding almost never is; else defaultLabel (GBK when that label is unknown too).
// A label no encoding answers to at one step leaves the choice to the next.
CharsetDecision DecideCharset(QByteArrayView body, QByteArrayView contentTypeHeader, QStringView defaultLabel);

} // namespace vantorel
