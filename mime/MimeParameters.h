#pragma once
// Parameters of MIME header values as text, in every form mail programs write them:
// plain (name="value", encoded words inside) and RFC 2231 (name*=charset'language'%XX,
// and values continued over name*0, name*1, ...).

#include <string>
#include <string_view>

namespace tandrel::mime {

/// The text (UTF-8) of Parameter in a ";"-separated header value. The RFC 2231
/// forms win when present: name*=charset'language'value with %XX escapes, or the
/// sections name*0, name*1, ... (each plain, or extended with "*"), joined from 0
/// up to the first missing number and converted from section 0's charset. Else the
/// plain value (GetParameter) with its encoded words decoded. Empty when absent.
std::string GetParameterText(std::string_view Value, std::string_view Parameter);

}  // namespace tandrel::mime
