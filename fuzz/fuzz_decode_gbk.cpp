// Pair-mode decoding against a plain byte walk: the word-at-a-time ASCII path must agree
// with it byte for byte.

#include <DecodeBody.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = DecodeBody(QByteArrayView(data, static_cast<qsizetype>(size)), u"gb2312");
    if (static_cast<std::size_t>(text.size()) > size)
        __builtin_trap();

    // One char per ASCII byte, one per high byte together with the byte it takes.
    qsizetype at = 0;
    for (std::size_t i = 0; i < size; ++i, ++at) {
        if (at >= text.size())
            __builtin_trap();
        QChar expected;
        if (data[i] < 0x80)
            expected = QChar(data[i]);
        else if (i + 1 == size)
            expected = QChar(QChar::ReplacementCharacter);
        else {
            expected = CharFromBytePair(data[i], data[i + 1]);
            ++i;
        }
        if (text[at] != expected)
            __builtin_trap();
    }
    if (at != text.size())
        __builtin_trap();
    return 0;
}
