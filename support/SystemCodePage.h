#pragma once
// The one road between UTF-8 text and bytes of the system code page
// (Windows-1252 on every machine).

#include <string>
#include <string_view>
#include <vector>

namespace tandrel::support {

/// UTF-8 text to Windows-1252 bytes. Characters the code page lacks become "?";
/// U+0081, U+008D, U+008F, U+0090, U+009D give the undefined bytes of the same
/// value. Each byte of malformed UTF-8 becomes "?".
std::string AnsiFromText(std::string_view Utf8);
/// AnsiFromText of the lines, each followed by CR LF: a text body as the bytes
/// of the system code page.
std::string AnsiLinesFromText(const std::vector<std::string>& Lines);
/// Windows-1252 bytes to UTF-8 text; the five undefined bytes give the C1 code
/// points of the same value, so every byte string survives the round trip.
std::string TextFromAnsi(std::string_view Bytes);

}  // namespace tandrel::support
