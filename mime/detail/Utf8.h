#pragma once
// UTF-8 writing for the text side of the library (reading is mime/Utf8.h).

#include <string>

namespace tandrel::mime::detail {

/// Appends the UTF-8 form of Cp (any value up to 0x7FFFFFFF, in as many
/// continuation bytes as its significant bits need).
inline void AppendUtf8(std::string& Out, char32_t Cp) {
    if (Cp < 0x80) {
        Out.push_back(static_cast<char>(Cp));
        return;
    }
    int extra = Cp < 0x800 ? 1 : Cp < 0x10000 ? 2 : Cp < 0x200000 ? 3 : Cp < 0x4000000 ? 4 : 5;
    static constexpr unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    Out.push_back(static_cast<char>(kLead[extra] | (Cp >> (6 * extra))));
    for (int k = extra - 1; k >= 0; --k) Out.push_back(static_cast<char>(0x80 | ((Cp >> (6 * k)) & 0x3F)));
}

}  // namespace tandrel::mime::detail
