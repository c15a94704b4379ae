#pragma once
// Content-Type and Content-Disposition values read by their grammar, and their
// parameters as text in every form mail programs write them: plain (name=token or
// name="quoted string", encoded words inside) and RFC 2231 (name*=charset'language'%XX,
// and values continued over name*0, name*1, ...).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel::mime {

/// One parameter as written: its name (with any RFC 2231 "*" suffix) and its value,
/// unquoted (in a quoted string a backslash gives the character after it).
struct TMimeParameter {
    std::string Name;
    std::string Value;
};

/// A Content-Type or Content-Disposition value: "type", or "type/subtype", then
/// ";"-separated parameters, in the order written.
struct TMimeParameters {
    std::string Type;
    std::string Subtype;
    bool HasSubtype = false;
    std::vector<TMimeParameter> Items;
};

/// Value read by the grammar of RFC 2045 (5.1) and RFC 2183 (2), white space and
/// comments allowed between its words. Nothing when it breaks the grammar (RFC 2045,
/// 5.2: the whole field is then invalid): a type or name that is no token, a parameter
/// without "=" or without a value, text after a value before the next ";" (a '"' inside
/// a token, a blank inside an unquoted value), an unclosed quoted string or comment.
/// Accepted as real mail needs: an empty parameter (a ";" at the end), and unquoted
/// values holding 8-bit bytes or the specials = / ? @ : , < > [ ] \ (boundaries such as
/// ----=_Part_1, unquoted encoded words).
[[nodiscard]] std::optional<TMimeParameters> ParseMimeParameters(std::string_view Value);

/// The bytes of parameter Name (case-insensitive name): its RFC 2231 form when there
/// is one (Name*= wins; else the sections Name*0, Name*1, ..., each plain or extended
/// with "*", joined from 0 up to the first missing number), %XX escapes decoded and
/// charset'language' dropped; else its plain value. The first of equal names counts;
/// empty when absent.
[[nodiscard]] std::string ParameterBytes(const TMimeParameters& Value, std::string_view Name);

/// The text (UTF-8) of parameter Name: as ParameterBytes, converted from the RFC 2231
/// charset (from section 0's); a plain value, or one without a charset, has its
/// encoded words decoded.
[[nodiscard]] std::string ParameterText(const TMimeParameters& Value, std::string_view Name);

/// ParameterText of Parameter in a header value; empty when absent or when the value
/// breaks the grammar.
[[nodiscard]] std::string GetParameterText(std::string_view Value, std::string_view Parameter);

}  // namespace tandrel::mime
