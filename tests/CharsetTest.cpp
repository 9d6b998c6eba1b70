#include "Charset.h"
#include "DecodeBody.h"
#include "Verdict.h"

#include <gtest/gtest.h>

#include <QStringDecoder>

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
        {"x-user-defined", "x-user-defined"}, {"ISO-8859-16", "ISO-8859-16"}, {"replacement", "replacement"},
        {"hz-gb-2312", "replacement"}, {"csiso2022kr", "replacement"}, {"ISO-2022-CN-EXT", "replacement"},
        {"", nullptr}, {"   ", nullptr}, {"utf-7", nullptr}, {"utf 8", nullptr}, {"utf-8\v", nullptr},
        {"iso8859-16", nullptr}, {"gb2312;", nullptr}, {"\"gb2312\"", nullptr},
    };
    for (const auto &c : cases) {
        const std::optional<QString> encoding = EncodingForLabel(c.label);
        EXPECT_EQ(encoding ? encoding->toStdString() : "<none>", c.encoding ? c.encoding : "<none>")
            << "label \"" << c.label << '"';
    }
}

TEST(Charset, EveryEncodingIsItsOwnLabelAndOpensInIcu)
{
    // DecodeBody reads these without ICU.
    for (const char *name : {"ISO-8859-16", "replacement", "x-user-defined"}) {
        EXPECT_EQ(EncodingForLabel(name).value_or(QStringLiteral("<none>")).toStdString(), name);
        EXPECT_EQ(IcuConverterForLabel(name), nullptr) << name;
    }
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

        // The prescan, branch by branch. A <meta> counts once its '>' is read.
        {"meta cut off", "<meta charset=\"koi8-r", "", u"gb2312", "GBK", Source::Default},
        {"meta without '>'", "<meta charset=koi8-r", "", u"gb2312", "GBK", Source::Default},
        {"meta without attributes", "<meta><meta/>", "", u"gb2312", "GBK", Source::Default},
        {"meta and slashes", "<meta/charset='koi8-r'/>", "", u"gb2312", "KOI8-R", Source::Meta},
        {"a slash ends no unquoted value", "<meta charset=koi8-r/>", "", u"gb2312", "GBK", Source::Default},
        {"metax is no meta", "<metax charset=koi8-r>", "", u"gb2312", "GBK", Source::Default},
        {"meta in script text", "<script>document.write('<meta charset=koi8-r>')</script>", "", u"gb2312",
         "KOI8-R", Source::Meta},
        {"meta in style text", "<style>/* <meta charset=koi8-r> */</style>", "", u"gb2312", "KOI8-R", Source::Meta},
        {"comment <!-->", "<!--><meta charset=koi8-r>", "", u"gb2312", "KOI8-R", Source::Meta},
        {"comment <!--->", "<!---><meta charset=koi8-r>", "", u"gb2312", "KOI8-R", Source::Meta},
        {"comment not closed by -- >", "<!-- -- ><meta charset=koi8-r> -->", "", u"gb2312", "GBK", Source::Default},
        {"comment never closed", "<!-- <meta charset=koi8-r>", "", u"gb2312", "GBK", Source::Default},
        {"<! to its '>'", "<!x <meta charset=koi8-r>", "", u"gb2312", "GBK", Source::Default},
        {"<? to its '>'", "<?php echo '<meta charset=koi8-r>' ?>", "", u"gb2312", "GBK", Source::Default},
        {"</ and no letter, to its '>'", "</ <meta charset=koi8-r>", "", u"gb2312", "GBK", Source::Default},
        {"end tag, then meta", "</p><meta charset=koi8-r>", "", u"gb2312", "KOI8-R", Source::Meta},
        {"'>' in a quoted value", "<div title=\"a>b <meta charset=koi8-r>\">", "", u"gb2312", "GBK", Source::Default},
        {"'>' in an end tag's value", "</p title='<meta charset=koi8-r>'>", "", u"gb2312", "GBK", Source::Default},
        {"unquoted value ends at '>'", "<p id=a'b><meta charset=koi8-r>", "", u"gb2312", "KOI8-R", Source::Meta},
        {"attributes without values", "<meta async defer charset=koi8-r>", "", u"gb2312", "KOI8-R", Source::Meta},
        {"spaces around '='", "<meta charset \t= \n'koi8-r'>", "", u"gb2312", "KOI8-R", Source::Meta},
        {"a leading '=' is part of the name", "<meta =charset=koi8-r>", "", u"gb2312", "GBK", Source::Default},
        {"charset without value", "<meta charset http-equiv=content-type content='text/html;charset=koi8-r'>",
         "", u"gb2312", "GBK", Source::Default},
        {"first of two charsets", "<meta charset=koi8-r charset=utf-8>", "", u"gb2312", "KOI8-R", Source::Meta},
        {"http-equiv without content", "<meta http-equiv=content-type><meta charset=koi8-r>", "", u"gb2312",
         "KOI8-R", Source::Meta},
        {"http-equiv without value", "<meta http-equiv content='text/html; charset=koi8-r'>", "", u"gb2312", "GBK",
         Source::Default},
        {"first http-equiv counts",
         "<meta http-equiv=refresh http-equiv=content-type content='text/html; charset=koi8-r'>", "", u"gb2312",
         "GBK", Source::Default},
        {"content without charset=", "<meta http-equiv=content-type content=\"text/html\">", "", u"gb2312", "GBK",
         Source::Default},
        {"content unquoted", "<meta http-equiv=content-type content=text/html;charset=koi8-r>", "", u"gb2312",
         "KOI8-R", Source::Meta},
        {"content with a double-quoted charset", "<meta http-equiv=content-type content='charset=\"big5\"'>", "",
         u"gb2312", "Big5", Source::Meta},
        {"content with an unquoted charset", "<meta content='text/html; charset=big5 ;x' http-equiv=content-type>",
         "", u"gb2312", "Big5", Source::Meta},
        {"content naming UTF-16", "<meta http-equiv=content-type content='text/html; charset=utf-16'>", "",
         u"gb2312", "UTF-8", Source::Meta},
        {"x-user-defined means windows-1252", "<meta charset=x-user-defined>", "", u"gb2312", "windows-1252",
         Source::Meta},
        {"a replacement label", "<meta charset=hz-gb-2312>", "", u"gb2312", "replacement", Source::Meta},
        {"ISO-8859-16", "<meta charset=iso-8859-16>", "", u"gb2312", "ISO-8859-16", Source::Meta},

        // An XML declaration speaks when the scan for a <meta> runs out of bytes.
        {"XML declaration", "<?xml version=\"1.0\" encoding=\"big5\"?><p>", "", u"gb2312", "Big5", Source::Meta},
        {"XML declaration, single quotes", "<?xml encoding = 'koi8-r'?>", "", u"gb2312", "KOI8-R", Source::Meta},
        {"XML declaration naming UTF-16", "<?xml encoding='utf-16'?>", "", u"gb2312", "UTF-8", Source::Meta},
        {"XML declaration keeps x-user-defined", "<?xml encoding='x-user-defined'?>", "", u"gb2312",
         "x-user-defined", Source::Meta},
        {"XML declaration, then a meta", "<?xml encoding='big5'?><meta charset=koi8-r>", "", u"gb2312", "KOI8-R",
         Source::Meta},
        {"XML encoding past its '>'", "<?xml version='1.0'?><p encoding='big5'>", "", u"gb2312", "GBK",
         Source::Default},
        {"XML encoding in upper case", "<?xml ENCODING='big5'?>", "", u"gb2312", "GBK", Source::Default},
        {"XML encoding with a space", "<?xml encoding='big5 '?>", "", u"gb2312", "GBK", Source::Default},
        {"XML declaration not first", " <?xml encoding='big5'?>", "", u"gb2312", "GBK", Source::Default},
        {"UTF-16LE XML declaration", QByteArray("<\0?\0x\0m\0l\0", 10), "", u"gb2312", "UTF-16LE", Source::Meta},
        {"UTF-16BE XML declaration", QByteArray("\0<\0?\0x\0m\0l", 10), "", u"gb2312", "UTF-16BE", Source::Meta},
    };
    for (const auto &c : cases) {
        const CharsetDecision decision = DecideCharset(c.body, c.header, c.defaultLabel);
        EXPECT_EQ(decision.encoding.toStdString(), c.encoding) << c.what;
        EXPECT_EQ(decision.source, c.source) << c.what;
    }
}

TEST(Charset, DecodePage)
{
    const QString words = QStringLiteral("友情链接：example.com");
    const QByteArray text = words.toUtf8();
    const QByteArray big5 = "\xA4\xCD\xB1\xA1\xB3\x73\xB5\xB2\xA1\x47" "example.com";
    const QString big5Words = QStringLiteral("友情連結：example.com");
    const QString utf8AsGbk = QStringLiteral("鍙嬫儏閾炬帴锛歟xample.com");
    // What stands before a <meta> the 1,024-byte prescan cannot see.
    const QByteArray comment = "<!--" + QByteArray(2048, 'x') + "-->";
    const QByteArray script = "<script>" + QByteArray("if (a<b && c > 0) s = '<p class=\"x\">';\n").repeated(30) +
                              "</script>";
    const QByteArray utf16Xml("<\0?\0x\0m\0l\0?\0>\0", 14);
    const auto latin1 = [](const QByteArray &bytes) { return QString::fromLatin1(bytes); };
    const struct {
        const char *what;
        QByteArray body;
        QByteArray header;
        QString expected;
        const char *encoding;
    } cases[] = {
        {"BOM, which is no part of the text", "\xEF\xBB\xBF" + text, "", words, "UTF-8"},
        {"UTF-16LE BOM", QByteArray("\xFF\xFE" "e\0x\0", 6), "", QStringLiteral("ex"), "UTF-16LE"},
        {"UTF-16BE BOM", QByteArray("\xFE\xFF\0e\0x", 6), "", QStringLiteral("ex"), "UTF-16BE"},
        // Declared GBK, the last byte of the colon takes the 'e' with it, as in a browser.
        {"said wrongly", text, "text/html; charset=gbk", utf8AsGbk, "GBK"},

        // A <meta> the page's parse meets later changes an encoding that was only a guess.
        {"meta after 2,048 bytes of comment", comment + "<meta charset=big5>" + big5, "",
         latin1(comment + "<meta charset=big5>") + big5Words, "Big5"},
        {"meta after a head script", script + "<meta http-equiv=Content-Type content='text/html; charset=big5'>" + big5,
         "", latin1(script + "<meta http-equiv=Content-Type content='text/html; charset=big5'>") + big5Words, "Big5"},
        {"late meta over UTF-8 bytes", comment + "<meta charset=gbk>" + text, "",
         latin1(comment + "<meta charset=gbk>") + utf8AsGbk, "GBK"},
        {"late meta naming UTF-16", comment + "<meta charset=utf-16le>", "",
         latin1(comment + "<meta charset=utf-16le>"), "UTF-8"},
        {"late meta after an XML declaration", "<?xml encoding='big5'?>" + comment + "<meta charset=gbk>", "",
         latin1("<?xml encoding='big5'?>" + comment + "<meta charset=gbk>"), "GBK"},
        {"late unknown label", comment + "<meta charset=bogus>" + text, "",
         latin1(comment + "<meta charset=bogus>") + words, "UTF-8"},
        {"an early meta holds", "<meta charset=utf-8>" + comment + "<meta charset=big5>" + text, "",
         latin1("<meta charset=utf-8>" + comment + "<meta charset=big5>") + words, "UTF-8"},
        {"the header wins over a late meta", comment + "<meta charset=big5>" + text, "text/html; charset=utf-8",
         latin1(comment + "<meta charset=big5>") + words, "UTF-8"},
        {"a BOM wins over a late meta", "\xEF\xBB\xBF" + comment + "<meta charset=big5>" + text, "",
         latin1(comment + "<meta charset=big5>") + words, "UTF-8"},
        {"UTF-16 in use stays", utf16Xml + comment + "<meta charset=gbk >", "",
         QStringDecoder(QStringConverter::Utf16LE).decode(utf16Xml + comment + "<meta charset=gbk >"), "UTF-16LE"},
    };
    for (const auto &c : cases) {
        QString encoding;
        EXPECT_EQ(DecodePage(c.body, c.header, u"gb2312", &encoding).toStdU16String(), c.expected.toStdU16String())
            << c.what;
        EXPECT_EQ(encoding.toStdString(), c.encoding) << c.what;
    }

    // A checked page is judged on that text, and its evidence names the encoding.
    FetchResult late;
    late.error = FetchError::None;
    late.httpStatus = 200;
    late.body = comment + "<meta charset=big5>" + big5;
    const JudgedPage judged = JudgePage(late, u"example.com", u"gb2312");
    EXPECT_EQ(judged.evidence.charset, QStringLiteral("Big5"));
    EXPECT_TRUE(judged.text.endsWith(big5Words));
}
