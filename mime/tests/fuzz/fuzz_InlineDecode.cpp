// Any header text decodes without fault, into the system code page and into UTF-8.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "mime/InlineEncoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    using namespace tandrel::mime;
    const std::string_view in(reinterpret_cast<const char*>(Data), Size);
    (void)InlineDecode(in, TMimeChar::CP1252);
    (void)InlineDecode(in, TMimeChar::UTF_8);
    (void)GetEmailAddr(in);
    (void)InlineEmailEx2(in, TMimeChar::CP1252, TMimeChar::UTF_8);
    return 0;
}
