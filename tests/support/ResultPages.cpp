#include "ResultPages.h"

#include <unicode/ucnv.h>

QString SearchResultPage(const QString &countText, const std::vector<SearchResult> &results, bool noResults)
{
    QString page = QStringLiteral(
        "<!DOCTYPE html><html><head><meta http-equiv=\"content-type\" content=\"text/html;charset=gb2312\">"
        "<title>百度搜索_domain</title></head><body><div id=\"wrapper\">");
    if (noResults)
        page += QStringLiteral("<div class=\"nors\"><p>抱歉，没有找到与<span style=\"font-family:宋体\">“domain”</span>"
                               "相关的网页。</p></div>");
    if (!countText.isNull())
        page += QStringLiteral("<div class=\"nums\">找到相关网页") + countText + QStringLiteral("篇，用时0.027秒</div>");
    int id = 1;
    for (const SearchResult &result : results) {
        page += QStringLiteral("<table class=\"result\" id=\"%1\"><tr><td class=\"f\"><h3 class=\"t\">"
                               "<a onmousedown=\"return c({'fm':'as','F':'778317EA','T':'1404%1'})\" href=\"http://")
                    .arg(id++);
        page += result.address;
        page += QStringLiteral("\" target=\"_blank\"><em>网站</em>首页</a></h3>");
        if (result.paid)
            page += QStringLiteral("<span class=\"m\">推广</span>");
        page += QStringLiteral("<font size=\"-1\">这里是这个网页的摘要，介绍网站的内容、栏目和最新的文章，"
                               "供搜索的用户在打开之前了解它。这段文字足够长，使下一条结果离得很远。"
                               "</font><br><span class=\"g\">");
        page += result.address;
        page += QStringLiteral(" 2012-5-3 </span></td></tr></table>\n<div class=\"spacer\">"
                               "                                                                    "
                               "                                                                    "
                               "</div>\n");
    }
    page += QStringLiteral("</div></body></html>");
    return page;
}

std::string GbkBytes(const QString &text)
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter *converter = ucnv_open("windows-936", &status);
    std::string bytes(static_cast<size_t>(text.size()) * 2 + 16, '\0');
    const int32_t length = ucnv_fromUChars(converter, bytes.data(), static_cast<int32_t>(bytes.size()),
                                           reinterpret_cast<const UChar *>(text.utf16()),
                                           static_cast<int32_t>(text.size()), &status);
    ucnv_close(converter);
    bytes.resize(U_SUCCESS(status) ? static_cast<size_t>(length) : 0);
    return bytes;
}
