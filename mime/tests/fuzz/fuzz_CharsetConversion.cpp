// UTF-8 input (valid or not) converts to every charset on both roads, and the
// result converts back, without fault. The first byte picks the target.
#include "mime/Charsets.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    using namespace tandrel::mime;
    if (Size == 0) return 0;
    const auto target = static_cast<TMimeChar>(Data[0] % MimeCharCount);
    const std::string_view in(reinterpret_cast<const char*>(Data + 1), Size - 1);
    const std::string viaIconv = CharsetConversion(in, TMimeChar::UTF_8, target);
    (void)CharsetConversion(viaIconv, target, TMimeChar::UTF_8);
    TBuiltInConversionScope builtIn;
    const std::string builtInBytes = CharsetConversion(in, TMimeChar::UTF_8, target);
    (void)CharsetConversion(builtInBytes, target, TMimeChar::UTF_8);
    (void)IdealCharsetCoding(in, TMimeChar::UTF_8, IdealCharsets);
    return 0;
}
