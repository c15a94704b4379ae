#include "mime/FileBytes.h"

#include "mime/LargeBytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>

namespace tandrel::mime {

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

constexpr std::size_t kFirstRoom = 64 * 1024;

}  // namespace

std::string ReadFileBytes(const std::string& FileName) {
    TFileHandle file(::open(FileName.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) Fail("cannot read ", FileName);
    struct stat info {};
    const bool sized = ::fstat(file.Get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
    std::string bytes;
    ResizeLarge(bytes, sized ? static_cast<std::size_t>(info.st_size) : kFirstRoom);
    std::size_t used = 0;
    while (true) {
        if (used == bytes.size()) {
            // Full: a file that has grown since it was measured reads on.
            char probe[1];
            const ssize_t more = ::read(file.Get(), probe, sizeof probe);
            if (more < 0 && errno == EINTR) continue;
            if (more < 0) Fail("cannot read ", FileName);
            if (more == 0) break;
            ResizeLarge(bytes, bytes.size() * 2);
            bytes[used++] = probe[0];
        }
        const ssize_t got = ::read(file.Get(), bytes.data() + used, bytes.size() - used);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) Fail("cannot read ", FileName);
        if (got == 0) break;
        used += static_cast<std::size_t>(got);
    }
    bytes.resize(used);
    return bytes;
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

}  // namespace tandrel::mime
