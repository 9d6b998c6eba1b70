#include "DecodeBody.h"

#include "Charset.h"

#include <QStringDecoder>

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

namespace vantorel {

namespace {

constexpr std::string_view kGb18030 = "gb18030";

// ICU writes U+001A for some unmappable bytes (Shift_JIS, for one); browsers show U+FFFD for
// every error, so every encoding reads the same way here.
void WriteReplacement(const void *, UConverterToUnicodeArgs *args, const char *, int32_t,
                      UConverterCallbackReason reason, UErrorCode *status)
{
    if (reason > UCNV_IRREGULAR) // reset, close, clone: nothing to write
        return;
    static constexpr UChar kReplacement = 0xFFFD;
    *status = U_ZERO_ERROR;
    ucnv_cbToUWriteUChars(args, &kReplacement, 1, 0, status);
}

struct ConverterCloser {
    void operator()(UConverter *converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Converter OpenConverter(const char *name)
{
    UErrorCode status = U_ZERO_ERROR;
    Converter converter(ucnv_open(name, &status));
    if (converter)
        ucnv_setToUCallBack(converter.get(), WriteReplacement, nullptr, nullptr, nullptr, &status);
    return converter;
}

// Writes ICU's reading of [source, end) into text from `written` on, growing text when it
// runs short. Without flush, a sequence cut off at the end stays in the converter.
void ConvertWithIcu(UConverter *converter, const char *&source, const char *end, bool flush, QString &text,
                    qsizetype &written)
{
    for (;;) {
        auto *begin = reinterpret_cast<UChar *>(text.data());
        UChar *target = begin + written;
        UErrorCode status = U_ZERO_ERROR;
        ucnv_toUnicode(converter, &target, begin + text.size(), &source, end, nullptr, flush, &status);
        written = target - begin;
        if (status != U_BUFFER_OVERFLOW_ERROR)
            return;
        text.resize(text.size() * 2 + 8);
    }
}

// One entry per code 0x8000..0xFFFF: the character of a two-byte GB18030 sequence, or U+FFFD
// where those two bytes are no character on their own (ICU then reads them in place).
using PairTable = std::array<char16_t, 0x8000>;

std::unique_ptr<PairTable> BuildPairTable()
{
    auto table = std::make_unique<PairTable>();
    table->fill(u'\uFFFD');

    UErrorCode status = U_ZERO_ERROR;
    const Converter converter(ucnv_open(kGb18030.data(), &status));
    if (!converter)
        return table;
    // Stop at the first unmappable byte so that a bad pair never yields a guess.
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);

    for (unsigned code = 0x8000; code <= 0xFFFF; ++code) {
        const char bytes[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
        UChar out[4];
        status = U_ZERO_ERROR;
        ucnv_reset(converter.get());
        const int32_t length = ucnv_toUChars(converter.get(), out, 4, bytes, 2, &status);
        // Only two bytes that form one character count: "80 41" is two, "81 30" begins four.
        if (U_SUCCESS(status) && length == 1)
            (*table)[code - 0x8000] = out[0];
    }
    return table;
}

const PairTable &PairTableInstance()
{
    static const std::unique_ptr<PairTable> table = BuildPairTable();
    return *table;
}

// ASCII runs and two-byte characters through the table; the rest (four-byte sequences, lone
// or broken bytes) one sequence at a time through ICU, so the text is ICU's to the letter.
QString DecodeGb18030(QByteArrayView body)
{
    const PairTable &table = PairTableInstance();
    const auto *bytes = reinterpret_cast<const unsigned char *>(body.data());
    const qsizetype size = body.size();

    QString text(size, Qt::Uninitialized);
    auto *out = reinterpret_cast<char16_t *>(text.data());
    qsizetype written = 0;
    qsizetype i = 0;
    Converter icu; // opened at the first sequence the table cannot answer
    while (i < size) {
        // Pages are mostly ASCII markup: widen sixteen bytes at a time while none is high. The
        // copy into a local array frees the fixed-length loop from aliasing the output, so the
        // compiler turns it into a few vector instructions.
        for (unsigned char chunk[16]; size - i >= 16; i += 16, written += 16) {
            std::memcpy(chunk, bytes + i, sizeof chunk);
            std::uint64_t halves[2];
            std::memcpy(halves, chunk, sizeof halves);
            if ((halves[0] | halves[1]) & 0x8080808080808080u)
                break;
            for (int k = 0; k < 16; ++k)
                out[written + k] = chunk[k];
        }
        for (; i < size && bytes[i] < 0x80; ++i)
            out[written++] = bytes[i];
        for (; i + 1 < size && bytes[i] >= 0x80; i += 2) {
            const char16_t c = table[((bytes[i] << 8) | bytes[i + 1]) - 0x8000];
            if (c == u'\uFFFD')
                break;
            out[written++] = c;
        }
        if (i == size || bytes[i] < 0x80)
            continue;

        if (!icu && !(icu = OpenConverter(kGb18030.data())))
            return QString::fromLatin1(body); // no ICU data: keep at least the ASCII
        // Four bytes hold the longest sequence. ICU keeps back the start of one that runs past
        // them; those bytes are read again from the top of the loop.
        const qsizetype window = std::min<qsizetype>(4, size - i);
        const char *source = body.data() + i;
        ConvertWithIcu(icu.get(), source, source + window, i + window == size, text, written);
        UErrorCode status = U_ZERO_ERROR;
        i += window - ucnv_toUCountPending(icu.get(), &status);
        ucnv_reset(icu.get());
        out = reinterpret_cast<char16_t *>(text.data());
    }
    text.truncate(written);
    return text;
}

QString DecodeUtf8(QByteArrayView body)
{
    // Keep a leading byte order mark as U+FEFF: the text mirrors the bytes one for one.
    // Stateless: a sequence cut off at the end becomes U+FFFD instead of staying in the
    // decoder's state, where it would vanish.
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::ConvertInitialBom | QStringConverter::Flag::Stateless);
    return decoder.decode(body);
}

QString DecodeWithIcu(QByteArrayView body, const char *converterName)
{
    const Converter converter = OpenConverter(converterName);
    if (!converter)
        return QString::fromLatin1(body); // no ICU data: keep at least the ASCII
    QString text(body.size(), Qt::Uninitialized);
    qsizetype written = 0;
    const char *source = body.data();
    ConvertWithIcu(converter.get(), source, source + body.size(), true, text, written);
    text.truncate(written);
    return text;
}

// ISO-8859-16 from 0x80 on; Debian's ICU has no converter for it.
constexpr std::array<char16_t, 128> kIso8859_16 = {
    0x0080, 0x0081, 0x0082, 0x0083, 0x0084, 0x0085, 0x0086, 0x0087, 0x0088, 0x0089, 0x008A, 0x008B, 0x008C,
    0x008D, 0x008E, 0x008F, 0x0090, 0x0091, 0x0092, 0x0093, 0x0094, 0x0095, 0x0096, 0x0097, 0x0098, 0x0099,
    0x009A, 0x009B, 0x009C, 0x009D, 0x009E, 0x009F, 0x00A0, 0x0104, 0x0105, 0x0141, 0x20AC, 0x201E, 0x0160,
    0x00A7, 0x0161, 0x00A9, 0x0218, 0x00AB, 0x0179, 0x00AD, 0x017A, 0x017B, 0x00B0, 0x00B1, 0x010C, 0x0142,
    0x017D, 0x201D, 0x00B6, 0x00B7, 0x017E, 0x010D, 0x0219, 0x00BB, 0x0152, 0x0153, 0x0178, 0x017C, 0x00C0,
    0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0106, 0x00C6, 0x00C7, 0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD,
    0x00CE, 0x00CF, 0x0110, 0x0143, 0x00D2, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x015A, 0x0170, 0x00D9, 0x00DA,
    0x00DB, 0x00DC, 0x0118, 0x021A, 0x00DF, 0x00E0, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x0107, 0x00E6, 0x00E7,
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x0111, 0x0144, 0x00F2, 0x00F3, 0x00F4,
    0x0151, 0x00F6, 0x015B, 0x0171, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x0119, 0x021B, 0x00FF,
};

// One character a byte, ASCII as it is.
template <typename HighByte>
QString DecodeSingleByte(QByteArrayView body, HighByte high)
{
    QString text(body.size(), Qt::Uninitialized);
    auto *out = reinterpret_cast<char16_t *>(text.data());
    for (qsizetype i = 0; i < body.size(); ++i) {
        const auto byte = static_cast<unsigned char>(body[i]);
        out[i] = byte < 0x80 ? byte : high(byte);
    }
    return text;
}

} // namespace

QString DecodeBody(QByteArrayView body, QStringView encoding)
{
    if (body.isEmpty())
        return {};
    const QByteArray label = encoding.toLatin1();
    const QString name = EncodingForLabel(label).value_or(QString());
    if (name.isEmpty() || name == u"GBK" || name == u"gb18030")
        return DecodeGb18030(body);
    if (name == u"UTF-8")
        return DecodeUtf8(body);
    if (name == u"replacement") // the whole body, however long
        return QString(QChar::ReplacementCharacter);
    if (name == u"x-user-defined") // 0x80..0xFF to U+F780..U+F7FF
        return DecodeSingleByte(body, [](unsigned char byte) { return static_cast<char16_t>(0xF700 + byte); });
    if (name == u"ISO-8859-16")
        return DecodeSingleByte(body, [](unsigned char byte) { return kIso8859_16[byte - 0x80]; });
    return DecodeWithIcu(body, IcuConverterForLabel(label));
}

QString DecodePage(QByteArrayView body, QByteArrayView contentTypeHeader, QStringView defaultLabel,
                   QString *encoding)
{
    using Source = CharsetDecision::Source;
    const CharsetDecision decision = DecideCharset(body, contentTypeHeader, defaultLabel);
    QString used = decision.encoding;
    if (decision.source == Source::Bom) {
        body = body.sliced(decision.encoding == u"UTF-8" ? 3 : 2);
    } else if (decision.source != Source::Header && !used.startsWith(u"UTF-16")) {
        // A browser's parser that meets a <meta> naming another encoding reads the page again
        // in it, unless a byte order mark or the header chose the encoding in use, or that is
        // UTF-16. Old portal pages often put their <meta> past the first 1,024 bytes, behind a
        // comment or a head script. The first <meta> of the whole page is read from its bytes
        // as the prescan reads one (so one inside script text counts too), and the page is
        // decoded once, in the encoding the browser ends with.
        if (const std::optional<QString> declared = FirstMetaEncoding(body))
            used = *declared;
    }
    if (encoding)
        *encoding = used;
    return DecodeBody(body, used);
}

} // namespace vantorel
