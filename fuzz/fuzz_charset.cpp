// A response as header and body (the first line is the Content-Type value, the rest the body):
// the charset decision must name an encoding that answers to its own name and agree with the
// byte order mark, and the text of the page under it must be well-formed UTF-16, no longer in
// chars than the body is in bytes.

#include <Charset.h>
#include <DecodeBody.h>

#include <cstddef>
#include <cstdint>

using namespace vantorel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView input(data, static_cast<qsizetype>(size));
    const qsizetype newline = input.indexOf('\n');
    const QByteArrayView header = newline < 0 ? QByteArrayView() : input.first(newline);
    const QByteArrayView body = newline < 0 ? input : input.sliced(newline + 1);

    const CharsetDecision decision = DecideCharset(body, header, u"gb2312");
    if (EncodingForLabel(decision.encoding.toLatin1()) != decision.encoding)
        __builtin_trap();
    const bool bom = body.startsWith("\xEF\xBB\xBF") || body.startsWith("\xFE\xFF") || body.startsWith("\xFF\xFE");
    if (bom != (decision.source == CharsetDecision::Source::Bom))
        __builtin_trap();

    // ICU writes U+FFFD for an unpaired surrogate in UTF-16 input, so none may come out.
    const QString text = DecodePage(body, header, u"gb2312");
    if (text.size() > body.size() || !text.isValidUtf16())
        __builtin_trap();
    return 0;
}
