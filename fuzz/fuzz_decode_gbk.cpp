// GB18030 decoding (the program's "gb2312") against ICU's own bulk conversion: the table and
// the ASCII fast path, and the hand-over of every other sequence to ICU, must agree with it
// to the letter.

#include <DecodeBody.h>

#include <unicode/ucnv.h>

#include <cstddef>
#include <cstdint>
#include <vector>

using namespace vantorel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto *bytes = reinterpret_cast<const char *>(data);
    const QString text = DecodeBody(QByteArrayView(bytes, static_cast<qsizetype>(size)), u"gb2312");
    if (static_cast<std::size_t>(text.size()) > size)
        __builtin_trap();

    UErrorCode status = U_ZERO_ERROR;
    UConverter *icu = ucnv_open("gb18030", &status);
    std::vector<UChar> expected(size + 1);
    const int32_t length = ucnv_toUChars(icu, expected.data(), static_cast<int32_t>(expected.size()), bytes,
                                         static_cast<int32_t>(size), &status);
    ucnv_close(icu);
    if (U_FAILURE(status) || length != text.size())
        __builtin_trap();
    for (int32_t i = 0; i < length; ++i)
        if (text[i].unicode() != expected[static_cast<std::size_t>(i)])
            __builtin_trap();
    return 0;
}
