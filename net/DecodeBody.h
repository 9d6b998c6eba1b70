#pragma once

#include <QByteArrayView>
#include <QChar>
#include <QString>
#include <QStringView>

// Turns response bytes into text. Only the charset names "UTF8" and "UTF-8" (exact case)
// select UTF-8; every other name, "gb2312" included, selects cp936 pair decoding, where each
// byte of 0x80 or above takes the next byte with it, whatever that byte is.
QString DecodeBody(QByteArrayView body, QStringView charset);

// The cp936 (GBK) character of a lead/trail byte pair; U+FFFD when the pair is no GBK
// character.
QChar CharFromBytePair(unsigned char lead, unsigned char trail);
