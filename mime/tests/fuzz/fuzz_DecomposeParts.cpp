// Any bytes parse into a part tree, on the line road and the byte road (delivery-status
// groups, empty embedded headers and delimiters by the grammar included), and every part
// of the tree decodes, without fault, hang or out-of-bounds read; and any header value
// is read by the parameter grammar and gives its parameters, RFC 2231 forms included.
#include "mime/MimeMess.h"
#include "mime/MimeParameters.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::vector<std::string> LinesOf(std::string_view Data) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= Data.size()) {
        const std::size_t end = Data.find('\n', start);
        std::string_view line =
            Data.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return lines;
}

void DecodeAll(tandrel::mime::TMimePart& Root) {
    Root.SetOnWalkPart([](tandrel::mime::TMimePart& Part) {
        Part.DecodePart();
        (void)Part.FindHeader("Final-Recipient");
    });
    Root.WalkPart();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    using namespace tandrel::mime;
    const std::string_view input(reinterpret_cast<const char*>(Data), Size);

    TMimeMess byLines;
    byLines.SetLines(LinesOf(input));
    byLines.DecodeMessage();
    DecodeAll(byLines.MessagePart());

    // Header lines up to the first empty line, the rest as raw bytes.
    const std::size_t split = input.find("\r\n\r\n");
    const std::string_view head = split == std::string_view::npos ? input : input.substr(0, split);
    const std::string_view body =
        split == std::string_view::npos ? std::string_view() : input.substr(split + 4);
    TMimeMess byBytes;
    byBytes.DecodeMessageBinary(LinesOf(head), body);
    DecodeAll(byBytes.MessagePart());

    // What was parsed composes again.
    byLines.MessagePart().ComposeParts();

    (void)GetParameterText(input, "filename");
    (void)GetParameterText(input, "name");
    if (const auto parsed = ParseMimeParameters(input)) {
        (void)ParameterBytes(*parsed, "boundary");
        (void)ParameterBytes(*parsed, "charset");
    }
    return 0;
}
