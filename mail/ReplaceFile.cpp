#include "mail/detail/ReplaceFile.h"

#include "support/FileBytes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>

namespace tandrel::mail {

namespace {

[[noreturn]] void Fail(const std::string& FileName) {
    const int error = errno != 0 ? errno : EIO;
    throw std::system_error(error, std::generic_category(), "cannot write " + FileName);
}

// Creates a new, empty file of an unused name beside `FileName` and gives its name.
// Created exclusively: a name someone placed there (a link, say) is never written through.
std::string CreateBeside(const std::string& FileName) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    for (int tries = 0; tries < 100; ++tries) {
        std::string name = FileName + ".tmp-";
        for (int i = 0; i < 8; ++i) name += kLetters[pick(random)];
        const int handle = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (handle >= 0) {
            ::close(handle);
            return name;
        }
        if (errno != EEXIST) Fail(FileName);
    }
    Fail(FileName);
}

// Waits until the file's bytes are on disk: a file system that allocates late (or over
// the network) may report a full disk only now.
void Sync(const std::string& Name, const std::string& FileName) {
    const int handle = ::open(Name.c_str(), O_RDONLY | O_CLOEXEC);
    if (handle < 0) Fail(FileName);
    const bool synced = ::fsync(handle) == 0;
    const int error = errno;
    ::close(handle);
    errno = error;
    if (!synced) Fail(FileName);
}

}  // namespace

void ReplaceFile(const std::string& FileName, const std::vector<std::string_view>& Pieces) {
    const std::string temporary = CreateBeside(FileName);
    try {
        try {
            support::WriteFileBytes(temporary, Pieces);
        } catch (const std::system_error& e) {
            // Named after the file asked for, not the temporary one.
            throw std::system_error(e.code(), "cannot write " + FileName);
        }
        Sync(temporary, FileName);
        if (std::rename(temporary.c_str(), FileName.c_str()) != 0) Fail(FileName);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
}

}  // namespace tandrel::mail
