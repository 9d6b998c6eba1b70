// The result page as the engine might send it (GBK bytes), read the way a run reads it: the
// count line, the link markers, and the grid text of every result.

#include <DecodeBody.h>
#include <SearchPage.h>

#include <cstddef>
#include <cstdint>

using namespace vantorel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString page = DecodeBody(QByteArrayView(data, static_cast<qsizetype>(size)), u"gb2312");

    if (const std::optional<QString> line = LinkCountLine(page, u"example.com")) {
        if (!line->startsWith(u"提示：当前站点 example.com 的外链数为：") || !line->endsWith(u" 条"))
            __builtin_trap();
    }

    const std::vector<qint32> positions = ResultLinkPositions(page);
    qint32 previous = 1; // a marker at position 1 never counts
    for (const qint32 position : positions) {
        if (position <= previous || position > page.size())
            __builtin_trap();
        if (!QStringView(page).sliced(position - 1).startsWith(u"})\" href=\""))
            __builtin_trap();
        previous = position;

        // An https link keeps its scheme; any other skips seven characters.
        const bool secure = page.mid(position + 9, 8).compare(u"https://", Qt::CaseInsensitive) == 0;
        if (std::optional<QString> address = ResultAddress(page, position)) {
            if (secure && !address->startsWith(u"https://"))
                __builtin_trap();
            const QStringView text = QStringView(*address).sliced(secure ? 8 : 0);
            // Text up to and including the first space, or up to a quote at most 2,048 characters
            // on; a space or quote inside an address goes percent-encoded, so a space is only ever
            // the last character.
            const qsizetype space = text.indexOf(u' ');
            if (text.contains(u'"') || text.size() > 2048 || (space >= 0 && space != text.size() - 1))
                __builtin_trap();
        } else if (!page.mid(position + (secure ? 17 : 16), 300).contains(u"推广")) {
            __builtin_trap(); // only a paid result has no address
        }
    }
    return 0;
}
