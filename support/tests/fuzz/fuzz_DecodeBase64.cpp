// Any text decodes without fault, and what it decodes to survives a round trip.
#include "support/Codings.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    using namespace tandrel::support;
    const std::string_view in(reinterpret_cast<const char*>(Data), Size);
    const std::string bytes = DecodeBase64(in);
    if (bytes.size() > Size / 4 * 3 + 2) std::abort();
    if (DecodeBase64(EncodeBase64(bytes)) != bytes) std::abort();
    const std::string modBytes = DecodeBase64mod(in);
    if (DecodeBase64mod(EncodeBase64mod(modBytes)) != modBytes) std::abort();
    return 0;
}
