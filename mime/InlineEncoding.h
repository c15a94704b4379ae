#pragma once
// Header values as RFC 2047 encoded words (Q form) and back, and the parts of
// an address text. These take and return UTF-8 text; inside, text becomes
// system-code-page bytes that are taken to be in the charset the caller names.

#include "mime/Charsets.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace tandrel::mime {

/// Whether bytes must be encoded: any byte below 32, from 127 up, or a special
/// of header encoding other than "_".
[[nodiscard]] bool NeedInline(std::string_view Bytes);
/// Text Value (its system-code-page bytes taken to be in CP) as encoded words in
/// charset MimeP: "=?<name>?Q?...?=" separated by single spaces, a new word at
/// the first space after every 33 characters of encoded text, and before any
/// character that would take a word beyond 75 characters (never inside one).
/// From the system code page into UTF-8, characters the code page lacks are kept.
std::string InlineEncode(std::string_view Value, TMimeChar CP, TMimeChar MimeP);
/// InlineEncode when NeedInline holds for the value's bytes or when the value
/// holds a word too long to be folded onto a 998-character line; else Value unchanged.
std::string InlineCodeEx2(std::string_view Value, TMimeChar FromCP, TMimeChar ToCP);
/// The header line "FieldName: " + InlineCodeEx2(Value, FromCP, ToCP) of an
/// unstructured field (Subject, Organization, Content-Description), its first
/// encoded word short enough to stay beside the name: folded right after the
/// name, the fold's white space would be read as the text's first character.
std::string InlineCodeField(std::string_view FieldName, std::string_view Value, TMimeChar FromCP,
                            TMimeChar ToCP);
/// An address text with its display name encoded when needed:
/// "\"name\" <addr>", or the bare address when there is no display name.
std::string InlineEmailEx2(std::string_view Value, TMimeChar FromCP, TMimeChar ToCP);
/// Where the address of an address text lies: [First, Last) of Value.
struct TEmailAddrSpan {
    std::size_t First = 0;
    std::size_t Last = 0;
};
/// The span after the first "<" that stands outside a quoted display name (the first
/// "<" at all when there is none outside), up to the next ">" or the end; all of Value
/// when it has no "<".
TEmailAddrSpan FindEmailAddr(std::string_view Value);
/// The address of an address text: the text of FindEmailAddr, trimmed.
std::string GetEmailAddr(std::string_view Value);
/// The display name of an address text, trimmed: its first quoted string (a backslash
/// in it gives the character after it), else the text before "<", else the text in
/// parentheses.
std::string GetEmailDesc(std::string_view Value);
/// Text with every encoded word replaced by its decoded characters (converted
/// through charset CP); blank text between two encoded words is dropped and a
/// broken word stays as it is.
std::string InlineDecode(std::string_view Value, TMimeChar CP);
/// 0-based position of the "?" of the "?=" that ends the encoded word whose
/// "=?" is at 0-based Beg, or npos when the word has no end.
std::size_t SearchEndInline(std::string_view Value, std::size_t Beg);

}  // namespace tandrel::mime
