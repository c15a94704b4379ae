// Any subject, names, identifiers and attachment compose into a message none of whose
// lines holds a raw CR or LF or runs beyond 998 characters, whose display names leave
// the addresses as they are, and whose attachment's bytes come back unchanged when the
// message is read again.
#include "mime/InlineEncoding.h"
#include "mime/MimeMess.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace tandrel::mime;

void Require(bool Condition) {
    if (!Condition) std::abort();
}

// A display name and an address: the name is anything, quoted as RFC 5322 quotes it
// (an address is the caller's to keep short).
std::string Mailbox(FuzzedDataProvider& Input, const char* Address) {
    std::string quoted = "\"";
    for (const char c : Input.ConsumeRandomLengthString(2000)) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\" <" + Address + ">";
}

// The value of the first header field of Lines named Name (with its colon), unfolded:
// a long value may be folded right after the colon.
std::string ValueOf(const std::vector<std::string>& Lines, std::string_view Name) {
    std::string value;
    for (std::size_t i = 0; i < Lines.size(); ++i) {
        if (!Lines[i].starts_with(Name)) continue;
        value = Lines[i].substr(Name.size());
        while (++i < Lines.size() && !Lines[i].empty() && (Lines[i][0] == ' ' || Lines[i][0] == '\t'))
            value += Lines[i];
        break;
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    FuzzedDataProvider input(Data, Size);
    // A fixed boundary: generating one waits for the clock to tick.
    const TBoundarySourceOverride boundary([] { return std::string("fuzz_boundary"); });

    TMimeMess mess;
    TMessHeader& header = mess.Header();
    header.SetCharsetCode(TMimeChar::UTF_8);
    header.SetTargetCharset(TMimeChar::CP1252);
    header.SetDate(EncodeDateTime(2026, 12, 9, 1, 23, 45));
    header.SetFrom(Mailbox(input, "loja@example.com"));
    header.ToList() = {Mailbox(input, "cliente@example.com")};
    header.SetSubject(input.ConsumeRandomLengthString(4000));
    // Identifiers go out as given; only their line breaks are guarded.
    header.SetMessageID(input.ConsumeRandomLengthString(200));
    header.SetXMailer(input.ConsumeRandomLengthString(200));

    TMimePart& root = mess.AddPartMultipart("mixed", nullptr);
    TMimePart& part = mess.AddPartBinary("", input.ConsumeRandomLengthString(2000), &root);
    part.SetCharsetCode(input.ConsumeBool() ? TMimeChar::UTF_8 : TMimeChar::CP1252);
    part.SetDescription(input.ConsumeRandomLengthString(2000));
    part.SetContentID(input.ConsumeRandomLengthString(200));
    part.SetDisposition(input.ConsumeBool() ? "attachment" : input.ConsumeRandomLengthString(50));
    const std::string bytes = input.ConsumeRemainingBytesAsString();
    part.DecodedLines() = bytes;
    part.EncodePart();
    part.EncodePartHeader();
    mess.EncodeMessage();

    for (const std::string& line : mess.Lines()) {
        Require(line.find_first_of("\r\n") == std::string::npos);
        Require(line.size() <= 998);
    }
    // Nothing in a display name ends the name or adds an address.
    Require(GetEmailAddr(ValueOf(mess.Lines(), "From:")) == "loja@example.com");
    Require(GetEmailAddr(ValueOf(mess.Lines(), "To:")) == "cliente@example.com");

    TMimeMess back;
    back.SetLines(mess.Lines());
    back.DecodeMessage();
    Require(back.MessagePart().GetSubPartCount() == 1);
    TMimePart& read = *back.MessagePart().GetSubPart(0);
    read.SetConvertCharset(false);
    read.DecodePart();
    Require(read.DecodedLines() == bytes);
    return 0;
}
