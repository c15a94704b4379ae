#pragma once
// Big-endian integer packing and whole-string stream transfer.

#include <cstddef>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>

namespace tandrel::support {

/// Value as two bytes, most significant first.
std::string CodeInt(std::uint16_t Value);
/// The 16-bit big-endian value of the two bytes at 1-based Index; a byte
/// outside Value counts as 0.
std::uint16_t DecodeInt(std::string_view Value, int Index);
/// Value as four bytes, most significant first.
std::string CodeLongInt(std::uint32_t Value);
/// The 32-bit big-endian value of the four bytes at 1-based Index; a byte
/// outside Value counts as 0.
std::uint32_t DecodeLongInt(std::string_view Value, int Index);
/// Value with its byte order reversed.
std::uint32_t SwapBytes(std::uint32_t Value);

/// Up to Len bytes read from the stream's current position; fewer when the
/// stream ends first (its state then shows eof/fail as usual).
std::string ReadStrFromStream(std::istream& Stream, std::size_t Len);
/// All bytes of Value written to Stream; failure shows in the stream's state.
void WriteStrToStream(std::ostream& Stream, std::string_view Value);

}  // namespace tandrel::support
