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

// Sixteen bytes and their sixteen 16-bit widenings; the compiler turns the widening into a
// few vector instructions.
using SixteenBytes = unsigned char __attribute__((vector_size(16)));
using SixteenChars = char16_t __attribute__((vector_size(32)));

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
        // Pages are mostly ASCII markup: widen sixteen bytes at a time while none is high.
        for (SixteenBytes chunk; size - i >= 16; i += 16, written += 16) {
            std::memcpy(&chunk, bytes + i, sizeof chunk);
            std::uint64_t halves[2];
            std::memcpy(halves, &chunk, sizeof halves);
            if ((halves[0] | halves[1]) & 0x8080808080808080u)
                break;
            const auto wide = __builtin_convertvector(chunk, SixteenChars);
            std::memcpy(out + written, &wide, sizeof wide);
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

} // namespace

QString DecodeBody(QByteArrayView body, QStringView encoding)
{
    if (body.isEmpty())
        return {};
    const char *converter = IcuConverterForLabel(encoding.toLatin1());
    if (!converter || converter == kGb18030)
        return DecodeGb18030(body);
    if (std::string_view(converter) == "UTF-8")
        return DecodeUtf8(body);
    return DecodeWithIcu(body, converter);
}

QString DecodePage(QByteArrayView body, QByteArrayView contentTypeHeader, QStringView defaultLabel,
                   QString *encoding)
{
    const CharsetDecision decision = DecideCharset(body, contentTypeHeader, defaultLabel);
    if (encoding)
        *encoding = decision.encoding;
    if (decision.source == CharsetDecision::Source::Bom)
        body = body.sliced(decision.encoding == u"UTF-8" ? 3 : 2);
    return DecodeBody(body, decision.encoding);
}

} // namespace vantorel
