#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tandrel::mail {

/// The first character of `ADelimiters` (";,|" when empty) that occurs anywhere in
/// `AText`, testing the set in its own order; a space when none occurs.
char FindDelimiterInText(std::string_view AText, std::string_view ADelimiters);

/// Splits `AText` at every `ADelimiter` (strictly: spaces stay inside items) and appends
/// the items to `AStringList`; returns how many were appended. An empty text appends
/// nothing; empty items between delimiters and after a final delimiter are appended.
/// An item that begins with `AQuoteChar` runs to its closing quote (a doubled quote is
/// one quote, delimiters inside are kept, the quotes are removed); whatever follows the
/// closing quote up to the next delimiter is kept after it. Never fails.
int AddDelimitedTextToList(std::string_view AText, char ADelimiter, std::vector<std::string>& AStringList,
                           char AQuoteChar);

}  // namespace tandrel::mail
