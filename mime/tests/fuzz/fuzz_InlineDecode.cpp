// Any header text decodes without fault, into the system code page and into UTF-8;
// and any text, encoded for a header, gives words of at most 75 characters without a
// CR or LF that decode back to the text (malformed UTF-8 read as "?").
#include "mime/InlineEncoding.h"
#include "support/Utf8.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace tandrel::mime;
using tandrel::support::WithMalformedAsQuestionMarks;

void Require(bool Condition) {
    if (!Condition) std::abort();
}

void EncodesWithinTheLimits(std::string_view Text) {
    const std::string encoded = InlineCodeEx2(Text, TMimeChar::CP1252, TMimeChar::UTF_8);
    Require(encoded.find_first_of("\r\n") == std::string::npos);
    if (encoded != Text) {
        for (std::size_t start = 0, end; start < encoded.size(); start = end + 1) {
            end = std::min(encoded.find(' ', start), encoded.size());
            Require(end - start <= 75);
        }
    }
    Require(InlineDecode(encoded, TMimeChar::UTF_8) == WithMalformedAsQuestionMarks(Text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    const std::string_view in(reinterpret_cast<const char*>(Data), Size);
    (void)InlineDecode(in, TMimeChar::CP1252);
    (void)InlineDecode(in, TMimeChar::UTF_8);
    (void)GetEmailAddr(in);
    const TEmailAddrSpan span = FindEmailAddr(in);
    Require(span.First <= span.Last && span.Last <= in.size());
    (void)InlineEmailEx2(in, TMimeChar::CP1252, TMimeChar::UTF_8);
    EncodesWithinTheLimits(in);
    return 0;
}
