#pragma once
// Transfer codings shared by the MIME library, the SMTP client and the socket
// layer: Base64, quoted-printable triplets, UU/XX lines and hexadecimal text.
// Every function takes and returns byte strings and accepts any input.

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tandrel::support {

/// A set of byte values (0..255). Compile-time constructible so the constant
/// sets below cost nothing at start-up.
class TSpecials {
public:
    constexpr TSpecials() = default;
    constexpr TSpecials(std::initializer_list<unsigned char> Bytes) {
        for (unsigned char b : Bytes) Include(b);
    }
    /// The set of every byte from Low to High inclusive.
    static constexpr TSpecials Range(unsigned char Low, unsigned char High) {
        TSpecials s;
        for (unsigned v = Low; v <= High; ++v) s.Include(static_cast<unsigned char>(v));
        return s;
    }
    constexpr void Include(unsigned char B) { FBits[B >> 6] |= std::uint64_t{1} << (B & 63); }
    [[nodiscard]] constexpr bool Contains(unsigned char B) const { return (FBits[B >> 6] >> (B & 63)) & 1u; }
    [[nodiscard]] constexpr bool Contains(char C) const { return Contains(static_cast<unsigned char>(C)); }
    constexpr TSpecials operator|(const TSpecials& Other) const {
        TSpecials s;
        for (std::size_t i = 0; i < FBits.size(); ++i) s.FBits[i] = FBits[i] | Other.FBits[i];
        return s;
    }
    constexpr bool operator==(const TSpecials&) const = default;

private:
    std::array<std::uint64_t, 4> FBits{};
};

/// The specials of header encoding: " ( ) , / : ; < > = ? @ [ ] \ and _.
inline constexpr TSpecials SpecialChar{'"', '(', ')', ',', '/', ':', ';',  '<',
                                       '>', '=', '?', '@', '[', ']', '\\', '_'};
/// Bytes 0 to 31 and 127 to 255.
inline constexpr TSpecials NonAsciiChar = TSpecials::Range(0, 31) | TSpecials::Range(127, 255);

/// Base64 (RFC 2045 alphabet) of Value, padded with "=", without line breaks.
std::string EncodeBase64(std::string_view Value);
/// EncodeBase64 of every LineBytes bytes of Value (the last piece may be
/// shorter), each followed by CR LF: body lines as a part sends them. Empty
/// Value gives no line; LineBytes 0 puts all of Value on one line.
std::string EncodeBase64Lines(std::string_view Value, std::size_t LineBytes);
/// EncodeBase64Lines of Prefix followed by Value, without joining them first.
std::string EncodeBase64Lines(std::string_view Prefix, std::string_view Value, std::size_t LineBytes);
/// Bytes of Base64 text. Every character outside the alphabet ("=", blanks,
/// line breaks included) is skipped; a final group of 3 or 2 characters gives
/// 2 or 1 bytes, a single leftover character nothing.
std::string DecodeBase64(std::string_view Value);
/// EncodeBase64 with "," in place of "/".
std::string EncodeBase64mod(std::string_view Value);
/// DecodeBase64 with "," in place of "/".
std::string DecodeBase64mod(std::string_view Value);

/// Every byte of Specials as Delimiter and two upper-case hexadecimal digits;
/// all other bytes copied.
std::string EncodeTriplet(std::string_view Value, char Delimiter, const TSpecials& Specials);
/// Reverse of EncodeTriplet: Delimiter + two hex digits (either case) gives the
/// byte, Delimiter + CR/LF (with its complement) is a soft break and vanishes,
/// Delimiter + anything else is copied, a Delimiter in one of the last two
/// positions ends the output there.
std::string DecodeTriplet(std::string_view Value, char Delimiter);
/// "=" triplets for "=" and NonAsciiChar. Lines are not split.
std::string EncodeQuotedPrintable(std::string_view Value);
/// "=" triplets for SpecialChar and NonAsciiChar (the form used in encoded words).
std::string EncodeSafeQuotedPrintable(std::string_view Value);
/// DecodeTriplet with "=".
std::string DecodeQuotedPrintable(std::string_view Value);

/// One line of uuencoded data to bytes. The first character gives the byte
/// count; "begin" and "end" lines and empty lines give nothing. Characters
/// missing at the end count as zero bits.
std::string DecodeUU(std::string_view Value);
/// One line of xxencoded data to bytes, with the same rules as DecodeUU.
std::string DecodeXX(std::string_view Value);

/// Every byte as two lower-case hexadecimal digits.
std::string StrToHex(std::string_view Value);

}  // namespace tandrel::support
