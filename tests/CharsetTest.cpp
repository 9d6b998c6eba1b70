#include "Charset.h"
#include "DecodeBody.h"

#include <gtest/gtest.h>

#include <unicode/ucnv.h>

#include <string>

using namespace vantorel;

namespace {

using Source = CharsetDecision::Source;

// `body` padded with a comment so that its last byte is byte number `end` of the page.
QByteArray EndingAt(qsizetype end, const QByteArray &body)
{
    const QByteArray open = "<!--", close = "-->";
    return open + QByteArray(end - body.size() - open.size() - close.size(), 'x') + close + body;
}

} // namespace

TEST(Charset, EncodingForLabel)
{
    const struct {
        const char *label;
        const char *encoding; // nullptr: no encoding
    } cases[] = {
        // Every Chinese label WHATWG knows reads with the gb18030 decoder.
        {"gb2312", "GBK"}, {"GBK", "GBK"}, {"x-gbk", "GBK"}, {"chinese", "GBK"}, {"csgb2312", "GBK"},
        {"csiso58gb231280", "GBK"}, {"iso-ir-58", "GBK"}, {"GB_2312-80", "GBK"}, {"gb_2312", "GBK"},
        {"gb18030", "gb18030"}, {"GB18030", "gb18030"},
        {"utf-8", "UTF-8"}, {"UTF8", "UTF-8"}, {"unicode-1-1-utf-8", "UTF-8"}, {" \t\nutf-8\f\r ", "UTF-8"},
        {"iso-8859-1", "windows-1252"}, {"Latin1", "windows-1252"}, {"ascii", "windows-1252"},
        {"us-ascii", "windows-1252"}, {"big5-hkscs", "Big5"}, {"sjis", "Shift_JIS"}, {"ms932", "Shift_JIS"},
        {"ks_c_5601-1987", "EUC-KR"}, {"x-euc-jp", "EUC-JP"}, {"csiso2022jp", "ISO-2022-JP"},
        {"koi8_r", "KOI8-R"}, {"koi8-ru", "KOI8-U"}, {"utf-16", "UTF-16LE"}, {"unicodefffe", "UTF-16BE"},
        {"logical", "ISO-8859-8-I"}, {"iso-8859-9", "windows-1254"}, {"tis-620", "windows-874"},
        {"", nullptr}, {"   ", nullptr}, {"utf-7", nullptr}, {"utf 8", nullptr}, {"utf-8\v", nullptr},
        {"x-user-defined", nullptr}, {"replacement", nullptr}, {"hz-gb-2312", nullptr},
        {"iso-8859-16", nullptr}, {"gb2312;", nullptr}, {"\"gb2312\"", nullptr},
    };
    for (const auto &c : cases) {
        const std::optional<QString> encoding = EncodingForLabel(c.label);
        EXPECT_EQ(encoding ? encoding->toStdString() : "<none>", c.encoding ? c.encoding : "<none>")
            << "label \"" << c.label << '"';
    }
}

TEST(Charset, EveryEncodingIsItsOwnLabelAndOpensInIcu)
{
    for (const char *name :
         {"UTF-8", "IBM866", "ISO-8859-2", "ISO-8859-3", "ISO-8859-4", "ISO-8859-5", "ISO-8859-6",
          "ISO-8859-7", "ISO-8859-8", "ISO-8859-8-I", "ISO-8859-10", "ISO-8859-13", "ISO-8859-14",
          "ISO-8859-15", "KOI8-R", "KOI8-U", "macintosh", "windows-874", "windows-1250", "windows-1251",
          "windows-1252", "windows-1253", "windows-1254", "windows-1255", "windows-1256", "windows-1257",
          "windows-1258", "x-mac-cyrillic", "GBK", "gb18030", "Big5", "EUC-JP", "ISO-2022-JP", "Shift_JIS",
          "EUC-KR", "UTF-16BE", "UTF-16LE"}) {
        EXPECT_EQ(EncodingForLabel(name).value_or(QStringLiteral("<none>")).toStdString(), name);
        const char *converter = IcuConverterForLabel(name);
        ASSERT_NE(converter, nullptr) << name;
        UErrorCode status = U_ZERO_ERROR;
        UConverter *opened = ucnv_open(converter, &status);
        EXPECT_TRUE(U_SUCCESS(status)) << name << " as " << converter << ": " << u_errorName(status);
        ucnv_close(opened);
    }
}

TEST(Charset, DecideCharset)
{
    const QByteArray metaUtf8 = "<meta charset=\"utf-8\">";
    const struct {
        const char *what;
        QByteArray body;
        QByteArray header;
        const char16_t *defaultLabel;
        const char *encoding;
        Source source;
    } cases[] = {
        {"nothing said", "<p>x", "", u"gb2312", "GBK", Source::Default},
        {"nothing said, UTF-8 bytes", "<p>\xE4\xB8\xAD\xE6\x96\x87", "", u"gb2312", "UTF-8", Source::Utf8Bytes},
        {"nothing said, GBK bytes", "<p>\xD6\xD0\xCE\xC4", "", u"gb2312", "GBK", Source::Default},
        {"nothing said, UTF-8 cut short", "<p>\xE4\xB8", "", u"gb2312", "GBK", Source::Default},
        {"default by another label", "", "", u" Big5 ", "Big5", Source::Default},
        {"unknown default", "", "", u"bogus", "GBK", Source::Default},

        {"UTF-8 BOM", "\xEF\xBB\xBFx", "", u"gb2312", "UTF-8", Source::Bom},
        {"UTF-16BE BOM", "\xFE\xFF\0x", "", u"gb2312", "UTF-16BE", Source::Bom},
        {"UTF-16LE BOM", "\xFF\xFEx\0", "", u"gb2312", "UTF-16LE", Source::Bom},
        {"BOM beats header", "\xEF\xBB\xBF", "text/html; charset=gbk", u"gb2312", "UTF-8", Source::Bom},
        {"BOM beats meta", "\xFF\xFE<meta charset=gbk>", "", u"gb2312", "UTF-16LE", Source::Bom},
        {"half a BOM", "\xEF\xBBx", "", u"gb2312", "GBK", Source::Default},

        {"header", "", "text/html; charset=utf-8", u"gb2312", "UTF-8", Source::Header},
        {"header quoted", "", "text/html; charset=\"Big5\"", u"gb2312", "Big5", Source::Header},
        {"header escaped", "", "text/html;charset=\"sh\\ift_jis\"junk", u"gb2312", "Shift_JIS", Source::Header},
        {"header upper case", "", "TEXT/HTML; CHARSET=KOI8-R", u"gb2312", "KOI8-R", Source::Header},
        {"header among parameters", "", " text/html ;format=flowed; charset = x ;Charset=euc-kr;q=1",
         u"gb2312", "EUC-KR", Source::Header},
        {"header first charset counts", "", "text/html; charset=gbk; charset=utf-8", u"utf-8", "GBK",
         Source::Header},
        {"header beats meta", metaUtf8, "text/html; charset=gb2312", u"utf-8", "GBK", Source::Header},
        {"header unknown label", metaUtf8, "text/html; charset=bogus", u"gb2312", "UTF-8", Source::Meta},
        {"header without type", metaUtf8, "charset=koi8-r", u"gb2312", "UTF-8", Source::Meta},
        {"header with a bad subtype", metaUtf8, "text/h tml; charset=koi8-r", u"gb2312", "UTF-8", Source::Meta},
        {"header space after the slash", metaUtf8, "text/ html; charset=koi8-r", u"gb2312", "UTF-8", Source::Meta},
        {"header space before the ';'", "", "text/html \t; charset=koi8-r", u"gb2312", "KOI8-R", Source::Header},
        {"header empty charset", "", "text/html; charset=", u"gb2312", "GBK", Source::Default},

        {"meta charset", metaUtf8, "", u"gb2312", "UTF-8", Source::Meta},
        {"meta upper case", "<HTML><HEAD><META CHARSET=BIG5>", "", u"gb2312", "Big5", Source::Meta},
        {"meta single quotes", "<meta charset='koi8-u'>", "", u"gb2312", "KOI8-U", Source::Meta},
        {"meta http-equiv", "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">", "",
         u"gb2312", "UTF-8", Source::Meta},
        {"meta http-equiv upper case", "<META HTTP-EQUIV=CONTENT-TYPE CONTENT=\"TEXT/HTML;CHARSET='EUC-JP'\">",
         "", u"gb2312", "EUC-JP", Source::Meta},
        {"meta content needs http-equiv", "<meta content=\"text/html; charset=utf-8\">", "", u"gb2312", "GBK",
         Source::Default},
        {"meta content after a false start",
         "<meta http-equiv=content-type content=\"charsetx; charset = koi8-r\">", "", u"gb2312", "KOI8-R",
         Source::Meta},
        {"meta content unmatched quote", "<meta http-equiv=content-type content=\"charset='utf-8\">", "",
         u"gb2312", "GBK", Source::Default},
        {"meta charset beats content",
         "<meta http-equiv=content-type content=\"text/html; charset=big5\" charset=utf-8>", "", u"gb2312",
         "UTF-8", Source::Meta},
        {"meta unknown charset voids content",
         "<meta charset=bogus http-equiv=content-type content=\"text/html; charset=utf-8\">", "", u"gb2312",
         "GBK", Source::Default},
        {"meta unknown, next meta counts", "<meta charset=bogus><meta charset=euc-kr>", "", u"gb2312",
         "EUC-KR", Source::Meta},
        {"meta UTF-16 means UTF-8", "<meta charset=utf-16le>", "", u"gb2312", "UTF-8", Source::Meta},
        {"meta in the body", "<body><p>text</p><meta charset=koi8-r>", "", u"gb2312", "KOI8-R", Source::Meta},
        {"meta in a comment", "<!-- <meta charset=\"utf-8\"> -->", "", u"gb2312", "GBK", Source::Default},
        {"meta ending at byte 1024", EndingAt(1024, metaUtf8), "", u"gb2312", "UTF-8", Source::Meta},
        {"meta ending at byte 1025", EndingAt(1025, metaUtf8), "", u"gb2312", "GBK", Source::Default},
        {"meta after high bytes", "<title>\xD6\xD0\xFF\x80</title><meta charset=utf-8>", "", u"gb2312",
         "UTF-8", Source::Meta},
    };
    for (const auto &c : cases) {
        const CharsetDecision decision = DecideCharset(c.body, c.header, c.defaultLabel);
        EXPECT_EQ(decision.encoding.toStdString(), c.encoding) << c.what;
        EXPECT_EQ(decision.source, c.source) << c.what;
    }
}

TEST(Charset, DecodePageLeavesTheByteOrderMarkOutAndTrustsTheHeader)
{
    const QString words = QStringLiteral("友情链接：example.com");
    const QByteArray text = words.toUtf8();
    const struct {
        const char *what;
        QByteArray body;
        QByteArray header;
        QString expected;
    } cases[] = {
        {"BOM, which is no part of the text", "\xEF\xBB\xBF" + text, "", words},
        {"UTF-16LE BOM", QByteArray("\xFF\xFE" "e\0x\0", 6), "", QStringLiteral("ex")},
        {"UTF-16BE BOM", QByteArray("\xFE\xFF\0e\0x", 6), "", QStringLiteral("ex")},
        // Declared GBK, the last byte of the colon takes the 'e' with it, as in a browser.
        {"said wrongly", text, "text/html; charset=gbk", QStringLiteral("鍙嬫儏閾炬帴锛歟xample.com")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(DecodePage(c.body, c.header, u"gb2312").toStdU16String(), c.expected.toStdU16String())
            << c.what;
}
