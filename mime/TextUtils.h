#pragma once
// Small text operations the header and parameter parsers are built from.
// Positions are 1-based (0 or -1 meaning "none", as each function says).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel::mime {

/// The text before the first Delimiter, or all of Value when it does not occur.
std::string SeparateLeft(std::string_view Value, std::string_view Delimiter);
/// The text after the first Delimiter, or all of Value when it does not occur.
std::string SeparateRight(std::string_view Value, std::string_view Delimiter);
/// Returns SeparateLeft(Value, Delimiter) and leaves in Value what follows the
/// first Delimiter (nothing when there is none).
std::string FetchBin(std::string& Value, std::string_view Delimiter);
/// FetchBin with the result and the remaining Value trimmed of spaces.
std::string Fetch(std::string& Value, std::string_view Delimiter);
/// FetchBin where a Delimiter between an opening and a closing Quotation does
/// not count; the quotation characters stay in the result.
std::string FetchEx(std::string& Value, std::string_view Delimiter, char Quotation);
/// The pieces that FetchEx takes from Value one by one until it is empty, found
/// in one pass (views into Value). An empty Value gives none; a final delimiter
/// adds no empty piece.
std::vector<std::string_view> SplitEx(std::string_view Value, std::string_view Delimiter, char Quotation);

/// Value without leading spaces (only the space character).
std::string TrimSPLeft(std::string_view Value);
/// Value without trailing spaces (only the space character).
std::string TrimSPRight(std::string_view Value);
/// Value without leading and trailing spaces (only the space character).
std::string TrimSP(std::string_view Value);

/// Quote, Value with every Quote doubled, Quote.
std::string QuoteStr(std::string_view Value, char Quote);
/// Value without its quoting: quote characters that open and close sections
/// vanish, a doubled Quote inside a section gives one, text outside stays.
std::string UnquoteStr(std::string_view Value, char Quote);
/// The value of Parameter in a ";"-separated header value (case-insensitive
/// name, blanks (spaces, tabs) allowed around "="), trimmed and unquoted; empty
/// when absent or when the parameter stands without "=".
std::string GetParameter(std::string_view Value, std::string_view Parameter);
/// Zero-based index of the first line that begins with Value, case-insensitive; -1 when none.
int IndexByBegin(std::string_view Value, const std::vector<std::string>& List);
/// 1-based start of the last occurrence of Sub ending at or before position
/// From; 0 when none (or Sub is empty).
int RPosEx(std::string_view Sub, std::string_view Value, int From);
/// RPosEx(Sub, Value, length of Value).
int RPos(std::string_view Sub, std::string_view Value);
/// Every occurrence of Search replaced left to right without overlap; an empty
/// Search leaves Value unchanged.
std::string ReplaceString(std::string_view Value, std::string_view Search, std::string_view Replace);
/// Number of occurrences of Chr in Value.
int CountOfChar(std::string_view Value, char Chr);
/// 1-based position of the first CR or LF, or -1; Terminator receives it, or
/// "\r\n" / "\n\r" when the other one follows directly (empty when none).
int PosCRLF(std::string_view Value, std::string& Terminator);
/// Which bytes end a line.
enum class TLineBreak {
    CrLf,  ///< only a CR LF pair; a lone CR or LF is a byte of the line
    Any,   ///< CR LF (counted once), LF or CR
};
/// One line of a text: its bytes without the break, where the next line begins,
/// and whether a break ended it (false for bytes that run to the end).
struct TTextLine {
    std::string_view Line;
    std::size_t Next = 0;
    bool Broken = false;
};
/// The line of Text that begins at byte From (From past the end gives an empty,
/// unbroken line at the end), ended as Rule says.
TTextLine NextLine(std::string_view Text, std::size_t From, TLineBreak Rule);
/// Calls Sink with each line of Text, ended as Rule says; a final break adds no
/// empty line, and an empty Text gives none.
template <typename TSink>
void ForEachLine(std::string_view Text, TLineBreak Rule, TSink&& Sink) {
    for (std::size_t from = 0; from < Text.size();) {
        const TTextLine line = NextLine(Text, from, Rule);
        Sink(line.Line);
        from = line.Next;
    }
}
/// The lines of Text as ForEachLine gives them.
std::vector<std::string> SplitLines(std::string_view Text, TLineBreak Rule);
/// The header line at zero-based Index with its continuation lines joined,
/// trimmed at its end; Index is advanced past the lines used. A continuation
/// that begins with a space or a tab is a fold and joins as it stands (only the
/// line break goes); one that begins with '"', ':' or '=' joins trimmed, after
/// one space. An empty line ends the header and the last line is never a
/// continuation.
std::string NormalizeHeader(const std::vector<std::string>& Value, int& Index);
/// Binary digits of Value (as unsigned), left-padded with "0" to Digits.
std::string IntToBin(int Value, int Digits);
/// The number of the leading "0"/"1" digits of Value.
int BinToInt(std::string_view Value);

}  // namespace tandrel::mime
