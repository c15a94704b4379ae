#pragma once
// Room for large byte strings (an attachment, its encoded body) that faults in
// few pages: on a virtual machine a page fault per 4 KiB costs more than writing
// the page, so tens of megabytes are asked to be backed by huge pages.

#include <cstddef>
#include <string>

namespace tandrel::support {

/// std::string::reserve, except that a new room of 1 MiB or more is first advised
/// to the kernel for huge pages (from 4 MiB on, those it fills whole). Contents
/// and size stay as they are.
void ReserveLarge(std::string& Value, std::size_t Size);

/// std::string::resize with the room taken by ReserveLarge; new bytes are zero.
void ResizeLarge(std::string& Value, std::size_t Size);

}  // namespace tandrel::support
