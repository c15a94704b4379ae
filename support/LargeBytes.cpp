#include "support/LargeBytes.h"

#include <sys/mman.h>

#include <cstdint>

namespace tandrel::support {

namespace {

// From here on a room is backed by huge pages: a megabyte faulted in by the page
// costs more than the unused end of a huge page.
constexpr std::size_t kMedium = std::size_t{1} << 20;
// From here on only the huge pages a room fills whole are asked for, the end takes
// small pages: a large room holds what it is given and no more.
constexpr std::size_t kLarge = std::size_t{4} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::uintptr_t kPage = 4096;
constexpr std::uintptr_t kHugeMask = kHugePage - 1;
// Room left for what the allocator adds to a block it maps by itself (its header).
constexpr std::size_t kAllocatorBytes = 64;

#ifndef MADV_COLLAPSE
#define MADV_COLLAPSE 25  // Linux 6.1
#endif

// Only advice: where the system has no huge pages the room works as any other.
// Huge pages are asked for up to the last one that Size bytes from Begin fill
// whole; the rest takes small pages. The page in front is
// advised whole (it holds the allocator's own bytes, which the advice leaves as
// they are). When the room starts on a huge page, the allocator's bytes written
// there keep a huge page from being faulted in at the head: that one is made at
// once.
void AdviseHugePages(char* Begin, std::size_t Size) {
    const auto at = reinterpret_cast<std::uintptr_t>(Begin);
    const auto first = at & ~(kPage - 1);
    const auto last = (at + Size) & ~kHugeMask;
    if (last <= first || ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE) != 0) return;
    if ((first & kHugeMask) == 0 && first + kHugePage <= last)
        static_cast<void>(::madvise(reinterpret_cast<void*>(first), kHugePage, MADV_COLLAPSE));
}

}  // namespace

void ReserveLarge(std::string& Value, std::size_t Size) {
    if (Size <= Value.capacity()) return;
    if (Size < kMedium) {
        Value.reserve(Size);
        return;
    }
    // A room the allocator maps as a whole number of huge pages is placed by the
    // kernel on a huge-page boundary, so that all of it, not just its middle, can
    // be backed by them.
    const std::size_t whole = (Size + kAllocatorBytes + kHugePage - 1) / kHugePage * kHugePage;
    std::string room;
    room.reserve(whole - kAllocatorBytes);
    AdviseHugePages(room.data(), Size < kLarge ? whole : Size);
    room.append(Value);
    Value.swap(room);
}

void ResizeLarge(std::string& Value, std::size_t Size) {
    ReserveLarge(Value, Size);
    Value.resize(Size);
}

}  // namespace tandrel::support
