// Any text decodes without fault and never grows; any bytes survive encoding.
#include "support/Codings.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    using namespace tandrel::support;
    const std::string_view in(reinterpret_cast<const char*>(Data), Size);
    if (DecodeQuotedPrintable(in).size() > Size) std::abort();
    if (DecodeQuotedPrintable(EncodeQuotedPrintable(in)) != in) std::abort();
    if (DecodeQuotedPrintable(EncodeSafeQuotedPrintable(in)) != in) std::abort();
    return 0;
}
