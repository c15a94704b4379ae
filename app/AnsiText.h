#pragma once

#include <string>

namespace tandrel::app {

/// `text` (UTF-8) as Windows-1252 bytes; characters the code page lacks become "?",
/// invalid UTF-8 bytes too.
std::string AnsiBytesFromText(const std::string& text);

/// Windows-1252 `bytes` as UTF-8 text; the five undefined bytes become the C1 code points
/// of the same value, so every byte survives the way back.
std::string TextFromAnsiBytes(const std::string& bytes);

}  // namespace tandrel::app
