#include "support/LargeBytes.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <algorithm>
#include <cstdint>

namespace tandrel::support {

namespace {

// From here on a room asks for huge pages: a megabyte faulted in by the page costs
// more than the unused end of a huge page.
constexpr std::size_t kMedium = std::size_t{1} << 20;
// From here on only the huge pages a room fills whole are asked for, the end takes
// small pages: a large room holds what it is given and no more.
constexpr std::size_t kLarge = std::size_t{4} << 20;
constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
constexpr std::uintptr_t kPage = 4096;

constexpr std::uintptr_t Floor(std::uintptr_t At, std::uintptr_t Unit) { return At & ~(Unit - 1); }
constexpr std::uintptr_t Ceil(std::uintptr_t At, std::uintptr_t Unit) { return Floor(At + Unit - 1, Unit); }

#if defined(__linux__)
#ifndef MADV_COLLAPSE
#define MADV_COLLAPSE 25  // Linux 6.1
#endif

// Only advice: where the system has no huge pages the room works as any other.
// Huge pages are asked for from the room's start up to End, and only those made of
// small pages the room lies on. When the room's first small page begins a huge page,
// the allocator placed its block there: that huge page is asked for whole, with the
// allocator's own bytes in front of the room, which the advice leaves as they are.
// They were written before it, which keeps a huge page from being faulted in there,
// so that one is made at once. Otherwise the huge page the room starts in is shared
// with other memory and stays as it is.
void AdviseHugePages(std::uintptr_t Begin, std::uintptr_t End) {
    const bool blockStart = Floor(Begin, kPage) == Floor(Begin, kHugePage);
    const auto first = blockStart ? Floor(Begin, kHugePage) : Ceil(Begin, kHugePage);
    const auto last = Floor(End, kHugePage);
    if (last <= first || ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE) != 0) return;
    if (blockStart) static_cast<void>(::madvise(reinterpret_cast<void*>(first), kHugePage, MADV_COLLAPSE));
}
#else
void AdviseHugePages(std::uintptr_t, std::uintptr_t) {}  // elsewhere the pages the system gives
#endif

}  // namespace

void ReserveLarge(std::string& Value, std::size_t Size) {
    if (Size <= Value.capacity()) return;
    if (Size < kMedium || Size > Value.max_size() - kHugePage) {  // the latter: reserve's own error
        Value.reserve(Size);
        return;
    }
    // A block the allocator maps by itself as a whole number of huge pages is placed by
    // the kernel on a huge-page boundary, so that all of it, not just its middle, can be
    // backed by them. Asking for a small page less than whole huge pages (the string's
    // final zero included) gets such a block from any allocator whose own bytes take
    // less than a page; from another one the room is still whole, only less of it is
    // backed by huge pages.
    const std::size_t whole = Ceil(Size + kPage, kHugePage);
    std::string room;
    room.reserve(whole - kPage);
    const auto begin = reinterpret_cast<std::uintptr_t>(room.data());
    const auto roomEnd = Ceil(begin + room.capacity(), kPage);
    AdviseHugePages(begin, Size < kLarge ? std::min(Ceil(begin + Size, kHugePage), roomEnd) : begin + Size);
    room.append(Value);
    Value.swap(room);
}

void ResizeLarge(std::string& Value, std::size_t Size) {
    ReserveLarge(Value, Size);
    Value.resize(Size);
}

}  // namespace tandrel::support
