#include "mime/MD5.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace tandrel::mime {
namespace {

struct MDCtx {
    std::array<std::uint32_t, 4> State{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u};
    std::uint64_t Length = 0;  // bytes hashed so far
    std::array<unsigned char, 64> Buffer{};
};

constexpr std::uint32_t Rotl(std::uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

constexpr std::array<std::uint32_t, 64> kSine = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

void MD5Transform(std::array<std::uint32_t, 4>& State, const unsigned char* Block) {
    std::uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = std::uint32_t(Block[i * 4]) | (std::uint32_t(Block[i * 4 + 1]) << 8) |
               (std::uint32_t(Block[i * 4 + 2]) << 16) | (std::uint32_t(Block[i * 4 + 3]) << 24);
    std::uint32_t a = State[0], b = State[1], c = State[2], d = State[3];
    for (int i = 0; i < 64; ++i) {
        std::uint32_t f;
        int g;
        if (i < 16) { f = (b & c) | (~b & d); g = i; }
        else if (i < 32) { f = (d & b) | (~d & c); g = (5 * i + 1) % 16; }
        else if (i < 48) { f = b ^ c ^ d; g = (3 * i + 5) % 16; }
        else { f = c ^ (b | ~d); g = (7 * i) % 16; }
        const std::uint32_t t = d;
        d = c;
        c = b;
        b = b + Rotl(a + f + kSine[i] + m[g], kShift[i]);
        a = t;
    }
    State[0] += a;
    State[1] += b;
    State[2] += c;
    State[3] += d;
}

void MDInit(MDCtx& Ctx) { Ctx = MDCtx{}; }

void MDUpdate(MDCtx& Ctx, std::string_view Data) {
    auto* p = reinterpret_cast<const unsigned char*>(Data.data());
    std::size_t n = Data.size();
    std::size_t used = Ctx.Length % 64;
    Ctx.Length += n;
    if (used > 0) {
        const std::size_t take = std::min(n, 64 - used);
        std::memcpy(Ctx.Buffer.data() + used, p, take);
        p += take;
        n -= take;
        if (used + take < 64) return;
        MD5Transform(Ctx.State, Ctx.Buffer.data());
    }
    for (; n >= 64; p += 64, n -= 64) MD5Transform(Ctx.State, p);
    std::memcpy(Ctx.Buffer.data(), p, n);
}

std::string MDFinal(MDCtx& Ctx) {
    const std::uint64_t bits = Ctx.Length * 8;
    const std::size_t used = Ctx.Length % 64;
    std::string pad(used < 56 ? 56 - used : 120 - used, '\0');
    pad[0] = '\x80';
    for (int i = 0; i < 8; ++i) pad.push_back(static_cast<char>(bits >> (8 * i)));
    MDUpdate(Ctx, pad);
    std::string out(16, '\0');
    for (int i = 0; i < 16; ++i) out[i] = static_cast<char>(Ctx.State[i / 4] >> (8 * (i % 4)));
    return out;
}

}  // namespace

std::string MD5(std::string_view Value) {
    MDCtx ctx;
    MDInit(ctx);
    MDUpdate(ctx, Value);
    return MDFinal(ctx);
}

std::string HMAC_MD5(std::string_view Text, std::string_view Key) {
    std::string key = Key.size() > 64 ? MD5(Key) : std::string(Key);
    key.resize(64, '\0');
    std::string ipad(64, '\0'), opad(64, '\0');
    for (std::size_t i = 0; i < 64; ++i) {
        ipad[i] = static_cast<char>(key[i] ^ 0x36);
        opad[i] = static_cast<char>(key[i] ^ 0x5C);
    }
    MDCtx ctx;
    MDInit(ctx);
    MDUpdate(ctx, ipad);
    MDUpdate(ctx, Text);
    const std::string inner = MDFinal(ctx);
    MDInit(ctx);
    MDUpdate(ctx, opad);
    MDUpdate(ctx, inner);
    return MDFinal(ctx);
}

}  // namespace tandrel::mime
