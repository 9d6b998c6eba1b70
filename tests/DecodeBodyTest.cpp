#include "DecodeBody.h"

#include <gtest/gtest.h>

#include <unicode/ucnv.h>

#include <initializer_list>
#include <random>
#include <string>
#include <vector>

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

// ICU's bulk windows-936 conversion, the reference for text that is valid GB2312.
std::u16string IcuWindows936(const QByteArray &bytes)
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter *converter = ucnv_open("windows-936", &status);
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

TEST(DecodeBody, OnlyExactUtf8NamesSelectUtf8)
{
    // E4 B8 AD is one character in UTF-8 but a pair plus a cut-off lead in cp936.
    const QByteArray body = Bytes({0xE4, 0xB8, 0xAD});
    const std::u16string asUtf8 = u"\u4E2D";
    const std::u16string asPairs = u"\u6D93\uFFFD";

    const struct {
        const char16_t *charset;
        const std::u16string &expected;
    } cases[] = {
        {u"UTF-8", asUtf8},   {u"UTF8", asUtf8},    {u"utf-8", asPairs}, {u"utf8", asPairs},
        {u"UTF-8 ", asPairs}, {u"gb2312", asPairs}, {u"", asPairs},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Decode(body, c.charset), c.expected)
            << "charset \"" << QString::fromUtf16(c.charset).toStdString() << '"';
}

TEST(DecodeBody, PairModeTakesTheNextByteWithEveryHighByte)
{
    const struct {
        QByteArray body;
        std::u16string expected;
    } cases[] = {
        {{}, u""},
        {Bytes({'A', 0x00, 'B'}), std::u16string(u"A\0B", 3)},
        {Bytes({0x41, 0xD6, 0xD0, 0x42}), u"A\u4E2DB"},
        {Bytes({0xD6, 0x41}), u"\u8AE5"},             // the 'A' is the trail byte
        {Bytes({0x41, 0xD6}), u"A\uFFFD"},            // lead byte cut off at the end
        // No GBK character: one U+FFFD per pair, and the trail never comes back as text.
        {Bytes({0x80, 0x41, 0xFF, 0xA1, 0x81, 0x7F, 0x81, 0x20, 0x81, 0xFF, 'z'}),
         u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDz"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Decode(c.body, u"gb2312"), c.expected) << "body " << c.body.toHex(' ').toStdString();
}

TEST(DecodeBody, CharFromBytePair)
{
    EXPECT_EQ(CharFromBytePair(0xD6, 0xD0), QChar(0x4E2D));
    EXPECT_EQ(CharFromBytePair(0x81, 0x40), QChar(0x4E02)); // outside GB2312, inside GBK
    // 0x80 is the euro sign on its own in cp936, so it never starts a pair.
    EXPECT_EQ(CharFromBytePair(0x80, 0x40), QChar(QChar::ReplacementCharacter));
    EXPECT_EQ(CharFromBytePair(0x41, 0x42), QChar(QChar::ReplacementCharacter));
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

TEST(DecodeBody, PairModeMatchesAByteWalkAndIcu)
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

    // Random bytes: one char per byte below 0x80, one per high byte and the byte after it.
    std::uniform_int_distribution<int> anyByte(0x00, 0xFF);
    for (int round = 0; round < 3000; ++round) {
        QByteArray body;
        for (int r = runs(random); r > 0; --r) {
            appendAscii(body);
            for (int n = highRun(random); n > 0; --n)
                body.append(static_cast<char>(anyByte(random)));
        }
        appendAscii(body);

        std::u16string expected;
        for (qsizetype i = 0; i < body.size(); ++i) {
            const auto b = static_cast<unsigned char>(body[i]);
            if (b < 0x80)
                expected += static_cast<char16_t>(b);
            else if (i + 1 == body.size())
                expected += u'\uFFFD';
            else
                expected += CharFromBytePair(b, static_cast<unsigned char>(body[++i])).unicode();
        }
        ASSERT_EQ(Decode(body, u"gb2312"), expected) << "body " << body.toHex(' ').toStdString();
    }

    // Valid GB2312 (and GBK/3) text mixed with ASCII decodes exactly as ICU does.
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
        ASSERT_EQ(Decode(body, u"gb2312"), IcuWindows936(body)) << "body " << body.toHex(' ').toStdString();
    }
}
