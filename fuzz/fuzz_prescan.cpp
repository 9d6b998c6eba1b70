// Arbitrary bytes as the start of a page: the prescan must read none past them (every run gets
// a heap copy of exactly the bytes, so AddressSanitizer sees an over-read) and answer a WHATWG
// encoding name or nothing, UTF-16 only for a UTF-16 XML declaration at the very start. The
// <meta> found in the first half of the bytes must be the first one found in all of them.

#include <Charset.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

using namespace vantorel;

namespace {

std::unique_ptr<char[]> ExactCopy(const std::uint8_t *data, std::size_t size)
{
    auto copy = std::make_unique<char[]>(size);
    std::copy_n(data, size, copy.get());
    return copy;
}

bool IsEncodingName(const std::optional<QString> &name)
{
    return !name || EncodingForLabel(name->toLatin1()) == name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::unique_ptr<char[]> whole = ExactCopy(data, size);
    const QByteArrayView bytes(whole.get(), static_cast<qsizetype>(size));

    const std::optional<QString> prescanned = PrescanEncoding(bytes);
    if (!IsEncodingName(prescanned))
        __builtin_trap();
    const bool utf16Declaration =
        bytes.startsWith(QByteArrayView("<\0?\0x\0", 6)) || bytes.startsWith(QByteArrayView("\0<\0?\0x", 6));
    if (prescanned && prescanned->startsWith(u"UTF-16") != utf16Declaration)
        __builtin_trap();

    const std::optional<QString> meta = FirstMetaEncoding(bytes);
    if (!IsEncodingName(meta) || (meta && (meta->startsWith(u"UTF-16") || *meta == u"x-user-defined")))
        __builtin_trap();
    const std::size_t half = size / 2;
    const std::unique_ptr<char[]> firstHalf = ExactCopy(data, half);
    const std::optional<QString> early = FirstMetaEncoding(QByteArrayView(firstHalf.get(), static_cast<qsizetype>(half)));
    if (early && early != meta)
        __builtin_trap();
    return 0;
}
