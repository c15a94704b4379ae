// Any date text gives a date that can be written back.
#include "mime/MailDate.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    using namespace tandrel::mime;
    const std::string_view in(reinterpret_cast<const char*>(Data), Size);
    (void)Rfc822DateTime(DecodeRfcDateTime(in));
    return 0;
}
