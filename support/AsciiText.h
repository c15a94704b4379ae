#pragma once
// Small ASCII text helpers shared by the libraries: protocol keywords, header names and
// the trimming that the mail formats mean by "trimmed". No locale is involved.

#include <string>
#include <string_view>

namespace tandrel::support {

/// `C` in upper case when it is an ASCII letter, else unchanged.
inline char UpperAscii(char C) { return C >= 'a' && C <= 'z' ? static_cast<char>(C - 'a' + 'A') : C; }
/// `C` in lower case when it is an ASCII letter, else unchanged.
inline char LowerAscii(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }

/// `Value` with its ASCII letters in upper case.
inline std::string UpperAscii(std::string_view Value) {
    std::string s(Value);
    for (char& c : s) c = UpperAscii(c);
    return s;
}

/// `Value` with its ASCII letters in lower case.
inline std::string LowerAscii(std::string_view Value) {
    std::string s(Value);
    for (char& c : s) c = LowerAscii(c);
    return s;
}

/// Whether `Value` begins with `Prefix`, ignoring ASCII case.
inline bool StartsWithNoCase(std::string_view Value, std::string_view Prefix) {
    if (Value.size() < Prefix.size()) return false;
    for (std::size_t i = 0; i < Prefix.size(); ++i)
        if (UpperAscii(Value[i]) != UpperAscii(Prefix[i])) return false;
    return true;
}

/// True when every byte of `Value` is below 0x80.
inline bool IsAscii(std::string_view Value) {
    for (const char c : Value)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

/// `Value` without the characters up to and including the space (controls too) at either end.
inline std::string_view TrimBlank(std::string_view Value) {
    while (!Value.empty() && static_cast<unsigned char>(Value.front()) <= ' ') Value.remove_prefix(1);
    while (!Value.empty() && static_cast<unsigned char>(Value.back()) <= ' ') Value.remove_suffix(1);
    return Value;
}

/// `Text` with every CR and LF turned into a space, so that it stays on one header or command
/// line whatever was typed into it.
inline std::string WithoutLineBreaks(std::string Text) {
    for (char& c : Text)
        if (c == '\r' || c == '\n') c = ' ';
    return Text;
}

}  // namespace tandrel::support
