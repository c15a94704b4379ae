#include "support/BinaryPacking.h"

namespace tandrel::support {
namespace {

// The byte at 1-based Pos, 0 outside the string.
std::uint32_t ByteAt(std::string_view Value, long long Pos) {
    if (Pos < 1 || Pos > static_cast<long long>(Value.size())) return 0;
    return static_cast<unsigned char>(Value[static_cast<std::size_t>(Pos - 1)]);
}

}  // namespace

std::string CodeInt(std::uint16_t Value) { return {static_cast<char>(Value >> 8), static_cast<char>(Value)}; }

std::uint16_t DecodeInt(std::string_view Value, int Index) {
    return static_cast<std::uint16_t>((ByteAt(Value, Index) << 8) | ByteAt(Value, Index + 1LL));
}

std::string CodeLongInt(std::uint32_t Value) {
    return {static_cast<char>(Value >> 24), static_cast<char>(Value >> 16), static_cast<char>(Value >> 8),
            static_cast<char>(Value)};
}

std::uint32_t DecodeLongInt(std::string_view Value, int Index) {
    std::uint32_t v = 0;
    for (long long k = 0; k < 4; ++k) v = (v << 8) | ByteAt(Value, Index + k);
    return v;
}

std::uint32_t SwapBytes(std::uint32_t Value) {
    return (Value >> 24) | ((Value >> 8) & 0xFF00u) | ((Value << 8) & 0xFF0000u) | (Value << 24);
}

std::string ReadStrFromStream(std::istream& Stream, std::size_t Len) {
    std::string out(Len, '\0');
    Stream.read(out.data(), static_cast<std::streamsize>(Len));
    out.resize(static_cast<std::size_t>(Stream.gcount()));
    return out;
}

void WriteStrToStream(std::ostream& Stream, std::string_view Value) {
    Stream.write(Value.data(), static_cast<std::streamsize>(Value.size()));
}

}  // namespace tandrel::support
