// UTF-8 decoding of arbitrary bytes: never more chars than bytes, the ASCII bytes through
// unchanged and in order, no lone surrogate, and text without a replacement char encodes
// back to the input.

#include <DecodeBody.h>

#include <cstddef>
#include <cstdint>

using namespace vantorel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));
    const QString text = DecodeBody(bytes, u"UTF-8");
    if (static_cast<std::size_t>(text.size()) > size)
        __builtin_trap();

    // An ASCII byte is never part of a multi-byte sequence, broken or not.
    QString asciiIn;
    for (const std::uint8_t byte : bytes)
        if (byte < 0x80)
            asciiIn += QChar(byte);
    QString asciiOut;
    bool replaced = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.unicode() < 0x80)
            asciiOut += c;
        replaced = replaced || c == QChar::ReplacementCharacter;
        if (c.isHighSurrogate() && (i + 1 == text.size() || !text[i + 1].isLowSurrogate()))
            __builtin_trap();
        if (c.isLowSurrogate() && (i == 0 || !text[i - 1].isHighSurrogate()))
            __builtin_trap();
    }
    if (asciiOut != asciiIn)
        __builtin_trap();
    if (!replaced && text.toUtf8() != bytes)
        __builtin_trap();
    return 0;
}
