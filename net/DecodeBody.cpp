#include "DecodeBody.h"

#include <QStringDecoder>

#include <unicode/ucnv.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

// One entry per code 0x8000..0xFFFF, built once through ICU's windows-936 converter.
using PairTable = std::array<char16_t, 0x8000>;

std::unique_ptr<PairTable> BuildPairTable()
{
    auto table = std::make_unique<PairTable>();
    table->fill(u'\uFFFD');

    UErrorCode status = U_ZERO_ERROR;
    UConverter *converter = ucnv_open("windows-936", &status);
    if (U_FAILURE(status))
        return table;
    // Stop at the first unmappable byte so that a bad pair never yields a guess.
    ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);

    for (unsigned code = 0x8000; code <= 0xFFFF; ++code) {
        const char bytes[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
        UChar out[4];
        status = U_ZERO_ERROR;
        ucnv_reset(converter);
        const int32_t length = ucnv_toUChars(converter, out, 4, bytes, 2, &status);
        // A pair counts only when both bytes form one character: a single-byte lead (0x80)
        // followed by a second character is no pair.
        if (U_SUCCESS(status) && length == 1)
            (*table)[code - 0x8000] = out[0];
    }
    ucnv_close(converter);
    return table;
}

const PairTable &PairTableInstance()
{
    static const std::unique_ptr<PairTable> table = BuildPairTable();
    return *table;
}

// Four bytes as four 16-bit lanes, in the same memory order.
std::uint64_t WidenFourBytes(std::uint32_t four)
{
    std::uint64_t word = four;
    word = (word | (word << 16)) & 0x0000FFFF0000FFFFu;
    return (word | (word << 8)) & 0x00FF00FF00FF00FFu;
}

QString DecodeCp936Pairs(QByteArrayView body)
{
    const PairTable &table = PairTableInstance();
    const auto *bytes = reinterpret_cast<const unsigned char *>(body.data());
    const qsizetype size = body.size();

    QString text(size, Qt::Uninitialized);
    auto *out = reinterpret_cast<char16_t *>(text.data());
    qsizetype written = 0;
    qsizetype i = 0;
    while (i < size) {
        // Pages are mostly ASCII markup: widen eight bytes at a time while none is high.
        for (std::uint64_t word; size - i >= 8; i += 8, written += 8) {
            std::memcpy(&word, bytes + i, sizeof word);
            if (word & 0x8080808080808080u)
                break;
            constexpr bool little = std::endian::native == std::endian::little;
            const auto low = static_cast<std::uint32_t>(word);
            const auto high = static_cast<std::uint32_t>(word >> 32);
            const std::uint64_t first = WidenFourBytes(little ? low : high);
            const std::uint64_t second = WidenFourBytes(little ? high : low);
            std::memcpy(out + written, &first, sizeof first);
            std::memcpy(out + written + 4, &second, sizeof second);
        }
        for (; i < size && bytes[i] < 0x80; ++i)
            out[written++] = bytes[i];
        // A run of pairs, each lead byte taking the next byte whatever it is.
        for (; i + 1 < size && bytes[i] >= 0x80; i += 2)
            out[written++] = table[((bytes[i] << 8) | bytes[i + 1]) - 0x8000];
        if (i + 1 == size && bytes[i] >= 0x80) {
            // A lead byte with nothing after it: keep the page, mark the broken pair.
            out[written++] = u'\uFFFD';
            ++i;
        }
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

} // namespace

QChar CharFromBytePair(unsigned char lead, unsigned char trail)
{
    if (lead < 0x80)
        return QChar(QChar::ReplacementCharacter);
    return QChar(PairTableInstance()[((lead << 8) | trail) - 0x8000]);
}

QString DecodeBody(QByteArrayView body, QStringView charset)
{
    if (charset == u"UTF8" || charset == u"UTF-8")
        return DecodeUtf8(body);
    return DecodeCp936Pairs(body);
}
