#include "support/FileBytes.h"

#include "support/LargeBytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <system_error>

namespace tandrel::support {

namespace {

// Closes the handle however the function is left.
class TFileHandle {
public:
    explicit TFileHandle(int Handle) : FHandle(Handle) {}
    ~TFileHandle() {
        if (FHandle >= 0) ::close(FHandle);
    }
    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;
    [[nodiscard]] int Get() const { return FHandle; }
    // Closing can report a failed write of a file system that writes late.
    [[nodiscard]] bool Close() {
        const int handle = FHandle;
        FHandle = -1;
        return ::close(handle) == 0;
    }

private:
    int FHandle;
};

[[noreturn]] void Fail(const char* What, const std::string& FileName) {
    const int error = errno != 0 ? errno : EIO;
    throw std::system_error(error, std::generic_category(), What + FileName);
}

constexpr std::size_t kBuffer = 64 * 1024;

// Calls Piece with the file's bytes, a buffer at a time, in order.
template <typename Sink>
void ReadFilePieces(const std::string& FileName, Sink&& Piece) {
    TFileHandle file(::open(FileName.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) Fail("cannot read ", FileName);
    std::array<char, kBuffer> buffer;
    while (true) {
        const ssize_t got = ::read(file.Get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) Fail("cannot read ", FileName);
        if (got == 0) return;
        Piece(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    }
}

std::size_t SizeOfFile(const std::string& FileName) {
    struct stat info {};
    if (::stat(FileName.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) return 0;
    return static_cast<std::size_t>(info.st_size);
}

}  // namespace

std::string ReadFileBytes(const std::string& FileName) {
    // Read a buffer at a time and appended: reading straight into the string would
    // mean filling it with zeros first, one more pass over a large file.
    std::string bytes;
    ReserveLarge(bytes, SizeOfFile(FileName));
    ReadFilePieces(FileName, [&](std::string_view Piece) {
        if (bytes.size() + Piece.size() > bytes.capacity())
            ReserveLarge(bytes, std::max(bytes.capacity() * 2, bytes.size() + Piece.size()));
        bytes.append(Piece);
    });
    return bytes;
}

std::vector<std::string> ReadFileLines(const std::string& FileName) {
    // No room for the whole file: a large one freed again would move the
    // allocator's threshold for mapping rooms of their own above the rooms that
    // come after it, which then lose their huge pages.
    std::vector<std::string> lines;
    std::string partial;
    bool open = false;  // the last line has no LF yet
    ReadFilePieces(FileName, [&](std::string_view Piece) {
        while (!Piece.empty()) {
            const auto end = Piece.find('\n');
            const std::string_view text = Piece.substr(0, end);
            if (open) {
                partial.append(text);
            } else {
                partial.assign(text);
            }
            open = end == std::string_view::npos;
            if (!open) {
                if (partial.ends_with('\r')) partial.pop_back();
                lines.push_back(partial);
            }
            Piece.remove_prefix(open ? Piece.size() : end + 1);
        }
    });
    if (open) {
        if (partial.ends_with('\r')) partial.pop_back();
        lines.push_back(std::move(partial));
    }
    return lines;
}

void WriteFileBytes(const std::string& FileName, const std::vector<std::string_view>& Pieces) {
    TFileHandle file(::open(FileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (file.Get() < 0) Fail("cannot write ", FileName);
    std::vector<iovec> rest;
    rest.reserve(Pieces.size());
    for (const std::string_view piece : Pieces)
        if (!piece.empty()) rest.push_back({const_cast<char*>(piece.data()), piece.size()});
    std::size_t first = 0;
    while (first < rest.size()) {
        const int count = static_cast<int>(std::min<std::size_t>(rest.size() - first, IOV_MAX));
        const ssize_t written = ::writev(file.Get(), rest.data() + first, count);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) Fail("cannot write ", FileName);
        // Skip what went out; a piece written in part continues where it stopped.
        auto left = static_cast<std::size_t>(written);
        while (first < rest.size() && left >= rest[first].iov_len) left -= rest[first++].iov_len;
        if (left > 0) {
            rest[first].iov_base = static_cast<char*>(rest[first].iov_base) + left;
            rest[first].iov_len -= left;
        }
    }
    if (!file.Close()) Fail("cannot write ", FileName);
}

}  // namespace tandrel::support
