#include "DecodeBody.h"

#include <gtest/gtest.h>

#include <unicode/ucnv.h>

#include <iconv.h>

#include <initializer_list>
#include <random>
#include <string>
#include <vector>

using namespace vantorel;

namespace {

QByteArray Bytes(std::initializer_list<unsigned char> bytes)
{
    QByteArray out;
    for (const unsigned char b : bytes)
        out.append(static_cast<char>(b));
    return out;
}

std::u16string Decode(const QByteArray &body, QStringView charset)
{
    return DecodeBody(body, charset).toStdU16String();
}

// ICU's bulk conversion, the reference: the fast paths must agree with it to the letter.
std::u16string Icu(const char *converterName, const QByteArray &bytes)
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter *converter = ucnv_open(converterName, &status);
    EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
    std::u16string out(static_cast<size_t>(bytes.size()) + 1, u'\0');
    const int32_t length = ucnv_toUChars(converter, out.data(), static_cast<int32_t>(out.size()),
                                         bytes.constData(), static_cast<int32_t>(bytes.size()), &status);
    EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
    ucnv_close(converter);
    out.resize(static_cast<size_t>(length));
    return out;
}

} // namespace

TEST(DecodeBody, LabelsSelectTheDecoder)
{
    // E4 B8 AD is one character in UTF-8 but a pair plus a cut-off lead in GB18030.
    const QByteArray body = Bytes({0xE4, 0xB8, 0xAD});
    const std::u16string asUtf8 = u"\u4E2D";
    const std::u16string asGb = u"\u6D93\uFFFD";

    // One label for each way; which labels name which encoding is CharsetTest's table.
    const struct {
        const char16_t *label;
        const std::u16string &expected;
    } cases[] = {
        {u" UTF-8 ", asUtf8}, {u"gb2312", asGb}, {u"gb18030", asGb},
        {u"", asGb},          {u"bogus", asGb},  {u"utf-8\u00A0", asGb},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Decode(body, c.label), c.expected) << "label \"" << QString::fromUtf16(c.label).toStdString() << '"';
}

TEST(DecodeBody, OtherEncodings)
{
    const struct {
        const char16_t *label;
        QByteArray body;
        std::u16string expected;
    } cases[] = {
        {u"big5", Bytes({0xA4, 0x40, 'x', 0x87, 0x40}), u"\u4E00x\u43F0"}, // with the Hong Kong additions
        {u"shift_jis", Bytes({0x82, 0xA0, 0xA0, 'x'}), u"\u3042\uFFFDx"},   // ICU alone would give U+001A
        {u"euc-jp", Bytes({0xA4, 0xA2, 0x8E, 0xB1}), u"\u3042\uFF71"},
        {u"euc-kr", Bytes({0xB0, 0xA1, 0x81, 0x41}), u"\uAC00\uAC02"},        // the Windows superset
        {u"iso-2022-jp", QByteArray("\x1B$B$\"\x1B(Bx"), u"\u3042x"},
        {u"koi8-r", Bytes({0xC1}), u"\u0430"},
        {u"koi8-u", Bytes({0xA4}), u"\u0454"},
        {u"windows-1251", Bytes({0xC0}), u"\u0410"},
        {u"latin1", Bytes({0x80, 0xE9}), u"\u20AC\u00E9"},                   // read as windows-1252
        {u"iso-8859-2", Bytes({0xA1}), u"\u0104"},
        {u"iso-8859-3", Bytes({0xA5, 'x'}), u"\uFFFDx"},                      // no character there
        {u"utf-16le", Bytes({'x', 0, 0x2D, 0x4E}), u"x\u4E2D"},
        {u"utf-16be", Bytes({0xD8, 0x3D, 0xDE, 0x00}), u"\U0001F600"},
        {u"utf-16le", Bytes({0x00, 0xD8, 'x', 0, 'y'}), u"\uFFFDx\uFFFD"},    // lone surrogate, odd end
        {u"utf-16le", Bytes({0xFF, 0xFE, 'x', 0}), u"\uFEFFx"},               // the BOM stays
        // Without ICU.
        {u"replacement", QByteArray("<p>x</p>"), u"\uFFFD"},                  // the whole body
        {u"iso-2022-kr", Bytes({0x1B, '$', ')', 'C', 0x0E, 0x21, 0x21}), u"\uFFFD"},
        {u"replacement", {}, u""},
        {u"x-user-defined", Bytes({0x00, 'A', 0x7F, 0x80, 0xC1, 0xFF}), std::u16string(u"\0A\x7F\uF780\uF7C1\uF7FF", 6)},
        {u"iso-8859-16", Bytes({'A', 0x80, 0xA4, 0xAA, 0xDE, 0xFF}), u"A\u0080\u20AC\u0218\u021A\u00FF"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Decode(c.body, c.label), c.expected)
            << QString::fromUtf16(c.label).toStdString() << ": " << c.body.toHex(' ').toStdString();
}

TEST(DecodeBody, Gb18030)
{
    const struct {
        QByteArray body;
        std::u16string expected;
    } cases[] = {
        {{}, u""},
        {Bytes({'A', 0x00, 'B'}), std::u16string(u"A\0B", 3)},
        {Bytes({0x41, 0xD6, 0xD0, 0x42}), u"A\u4E2DB"},
        {Bytes({0xD6, 0x41}), u"\u8AE5"},            // the 'A' is the trail byte
        {Bytes({0x81, 0x40}), u"\u4E02"},            // outside GB2312, inside GBK
        {Bytes({0xA3, 0xA0}), u"\uE5E5"},            // as ICU maps it
        {Bytes({0x41, 0xD6}), u"A\uFFFD"},           // lead byte cut off at the end
        // A byte that cannot be a trail starts afresh, so no ASCII letter is lost.
        {Bytes({0x81, 0x20, 'e', 'x'}), u"\uFFFD ex"},
        {Bytes({0x81, 0x7F, 'e'}), u"\uFFFD\u007Fe"},
        {Bytes({0x81, 0xFF, 'e'}), u"\uFFFDe"},
        {Bytes({0x80, 'e', 0xFF, 'e'}), u"\uFFFDe\uFFFDe"}, // 0x80 alone: ICU has no euro sign there
        // Four-byte sequences, at the edges of their ranges.
        {Bytes({0x81, 0x30, 0x81, 0x30}), u"\u0080"},
        {Bytes({0x81, 0x35, 0xF4, 0x37}), u"\uE7C7"},
        {Bytes({0x84, 0x31, 0xA4, 0x39}), u"\uFFFF"},
        {Bytes({0x84, 0x31, 0xA5, 0x30}), u"\uFFFD"},     // past the BMP ranges
        {Bytes({0x90, 0x30, 0x81, 0x30}), u"\U00010000"},
        {Bytes({0x95, 0x32, 0x82, 0x36}), u"\U00020000"},
        {Bytes({0xE3, 0x32, 0x9A, 0x35}), u"\U0010FFFF"},
        {Bytes({0xE3, 0x32, 0x9A, 0x36}), u"\uFFFD"},     // past U+10FFFF
        {Bytes({'a', 'b', 'c', 0x95, 0x32, 0x82, 0x36, 0x95, 0x32, 0x82, 0x36, 'd', 'e', 'f', 'g', 'h', 'i', 'j'}),
         u"abc\U00020000\U00020000defghij"},
        {Bytes({0xD6, 0xD0, 0x95, 0x32, 0x82, 0x36, 0xD6, 0xD0}), u"\u4E2D\U00020000\u4E2D"},
        // A sequence that starts in one four-byte look and ends in the next.
        {Bytes({0x80, 0x81, 0x30, 0x81, 0x30}), u"\uFFFD\u0080"},
        {Bytes({0xFF, 0xFF, 0x95, 0x32, 0x82, 0x36}), u"\uFFFD\uFFFD\U00020000"},
        // Broken and cut-off four-byte sequences.
        {Bytes({0x81, 0x30, 0x81, 0x41, 'B'}), u"\uFFFD0\u4E04B"},
        {Bytes({0x81, 0x30, 0x20, 0x30}), u"\uFFFD0 0"},
        {Bytes({'A', 0x81, 0x30, 0x81}), u"A\uFFFD"},
        {Bytes({'A', 0x81, 0x30}), u"A\uFFFD"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Decode(c.body, u"gb18030"), c.expected) << "body " << c.body.toHex(' ').toStdString();
}

// ICU has no ISO-8859-16 here; glibc's iconv is the reference for the program's own table.
TEST(DecodeBody, Iso885916MatchesIconv)
{
    QByteArray every;
    for (int byte = 0; byte < 0x100; ++byte)
        every.append(static_cast<char>(byte));
    const iconv_t converter = iconv_open("UTF-16LE", "ISO-8859-16");
    ASSERT_NE(converter, reinterpret_cast<iconv_t>(-1));
    std::u16string expected(every.size(), u'\0');
    char *in = every.data();
    size_t inLeft = every.size();
    auto *out = reinterpret_cast<char *>(expected.data());
    size_t outLeft = expected.size() * sizeof(char16_t);
    EXPECT_NE(iconv(converter, &in, &inLeft, &out, &outLeft), static_cast<size_t>(-1));
    iconv_close(converter);
    EXPECT_EQ(Decode(every, u"ISO-8859-16"), expected);
}

TEST(DecodeBody, Utf8Mode)
{
    const struct {
        QByteArray body;
        std::u16string expected;
    } cases[] = {
        {{}, u""},
        {Bytes({'A', 0xC3, 0xA9, 0xE4, 0xB8, 0xAD, 0xF0, 0x9F, 0x98, 0x80}), u"A\u00E9\u4E2D\U0001F600"},
        {Bytes({0xC3, 'x'}), u"\uFFFDx"},              // the 'x' is not swallowed
        {Bytes({'a', 0x80, 'b'}), u"a\uFFFDb"},        // lone continuation byte
        {Bytes({0xEF, 0xBB, 0xBF, 'A'}), u"\uFEFFA"},  // the BOM stays in the text
    };
    for (const auto &c : cases)
        EXPECT_EQ(Decode(c.body, u"UTF-8"), c.expected) << "body " << c.body.toHex(' ').toStdString();

    // A sequence cut off at the end still shows up as replacement, after the text before it.
    const std::u16string cut = Decode(Bytes({'A', 0xE4, 0xB8}), u"UTF-8");
    ASSERT_GE(cut.size(), 2u);
    EXPECT_EQ(cut.front(), u'A');
    EXPECT_EQ(cut.find_first_not_of(u'\uFFFD', 1), std::u16string::npos) << "got " << cut.size() << " chars";
}

TEST(DecodeBody, Gb18030MatchesIcu)
{
    std::mt19937 random(936);
    std::uniform_int_distribution<int> runs(0, 8);
    std::uniform_int_distribution<int> asciiRun(0, 20); // long enough to cross word-sized steps
    std::uniform_int_distribution<int> highRun(1, 6);
    std::uniform_int_distribution<int> ascii(0x00, 0x7F);
    const auto appendAscii = [&](QByteArray &body) {
        for (int n = asciiRun(random); n > 0; --n)
            body.append(static_cast<char>(ascii(random)));
    };

    // Random bytes, half of them drawn from what four-byte sequences are made of.
    std::uniform_int_distribution<int> anyByte(0x00, 0xFF);
    std::uniform_int_distribution<int> lead(0x81, 0xFE);
    std::uniform_int_distribution<int> digit(0x30, 0x39);
    for (int round = 0; round < 5000; ++round) {
        QByteArray body;
        for (int r = runs(random); r > 0; --r) {
            appendAscii(body);
            for (int n = highRun(random); n > 0; --n) {
                const int kind = static_cast<int>(random() % 4);
                body.append(static_cast<char>(kind == 0 ? anyByte(random) : kind == 1 ? digit(random) : lead(random)));
            }
        }
        appendAscii(body);
        ASSERT_EQ(Decode(body, u"gb18030"), Icu("gb18030", body)) << "body " << body.toHex(' ').toStdString();
    }

    // Valid GB2312 (and GBK/3) text mixed with ASCII decodes exactly as ICU's windows-936.
    std::uniform_int_distribution<int> gb2312Row(0xB0, 0xF7);
    std::uniform_int_distribution<int> gb2312Cell(0xA1, 0xFE);
    std::uniform_int_distribution<int> gbkLead(0x81, 0xA0);
    std::uniform_int_distribution<int> gbkTrail(0x40, 0xFE);
    const auto appendHanzi = [&](QByteArray &body) {
        int lead = 0;
        int trail = 0;
        if (random() % 2) {
            do { // the end of row 0xD7 is unassigned
                lead = gb2312Row(random);
                trail = gb2312Cell(random);
            } while (lead == 0xD7 && trail > 0xF9);
        } else {
            lead = gbkLead(random);
            do
                trail = gbkTrail(random);
            while (trail == 0x7F);
        }
        body.append(static_cast<char>(lead)).append(static_cast<char>(trail));
    };
    for (int round = 0; round < 3000; ++round) {
        QByteArray body;
        for (int r = runs(random); r > 0; --r) {
            appendAscii(body);
            for (int n = highRun(random); n > 0; --n)
                appendHanzi(body);
        }
        appendAscii(body);
        ASSERT_EQ(Decode(body, u"gb2312"), Icu("windows-936", body)) << "body " << body.toHex(' ').toStdString();
    }
}
