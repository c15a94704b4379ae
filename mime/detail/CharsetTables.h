#pragma once
// The built-in single-byte tables (generated into mime/CharsetTables.cpp).

#include "mime/Charsets.h"

#include <array>
#include <cstdint>

namespace tandrel::mime::detail {

/// UCS-2 code units of bytes 0x80..0xFF; U+FFFD where the code page is undefined.
using TUpperHalf = std::array<std::uint16_t, 128>;

/// The table of one of the 25 charsets that have their own, or nullptr.
const TUpperHalf* SingleByteTable(TMimeChar Charset);

}  // namespace tandrel::mime::detail
