#pragma once
// The binding of the C library's iconv. The functions are glibc's own, always
// present; "bound" is a switch that DestroyIconvInterface turns off and
// InitIconvInterface on again. While it is off every operation still works:
// handles are invalid and conversions report nothing converted.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace tandrel::mime {

/// An iconv conversion descriptor; InvalidIconvHandle when none.
using TIconvHandle = void*;
/// The value iconv_open returns on failure, (iconv_t)-1.
inline TIconvHandle const InvalidIconvHandle = reinterpret_cast<TIconvHandle>(static_cast<std::intptr_t>(-1));

/// Serialises binding and unbinding.
extern std::mutex IconvCS;

/// Binds iconv if it is not bound yet; true when it is bound afterwards.
[[nodiscard]] bool InitIconvInterface();
/// Unbinds iconv; true when it had been bound. Handles opened before stay valid
/// for IconvClose.
bool DestroyIconvInterface();
/// Whether iconv is bound.
[[nodiscard]] bool IsIconvloaded();

/// A converter from FromCode to ToCode, or InvalidIconvHandle (also when the
/// binding is off or iconv does not know a name).
TIconvHandle IconvOpen(std::string_view ToCode, std::string_view FromCode);
/// IconvOpen with "//IGNORE" appended to ToCode.
TIconvHandle IconvOpenIgnore(std::string_view ToCode, std::string_view FromCode);
/// IconvOpen with "//IGNORE//TRANSLIT" appended to ToCode.
TIconvHandle IconvOpenTranslit(std::string_view ToCode, std::string_view FromCode);
/// Converts all of Input into Output (replaced), skipping input the converter
/// rejects and ending with the converter's reset sequence; returns the number
/// of input bytes consumed (skipped ones included).
std::size_t IconvConvert(TIconvHandle Handle, std::string_view Input, std::string& Output);
/// Releases Handle (if valid) and sets it to InvalidIconvHandle.
void IconvClose(TIconvHandle& Handle);

/// Owns one converter handle; closes it on destruction.
class TIconvConverter {
public:
    TIconvConverter() = default;
    explicit TIconvConverter(TIconvHandle Handle) : FHandle(Handle) {}
    ~TIconvConverter() { IconvClose(FHandle); }
    TIconvConverter(const TIconvConverter&) = delete;
    TIconvConverter& operator=(const TIconvConverter&) = delete;
    TIconvConverter(TIconvConverter&& Other) noexcept : FHandle(Other.FHandle) {
        Other.FHandle = InvalidIconvHandle;
    }
    TIconvConverter& operator=(TIconvConverter&& Other) noexcept {
        if (this != &Other) {
            IconvClose(FHandle);
            FHandle = Other.FHandle;
            Other.FHandle = InvalidIconvHandle;
        }
        return *this;
    }
    [[nodiscard]] bool IsOpen() const { return FHandle != InvalidIconvHandle; }
    [[nodiscard]] TIconvHandle Get() const { return FHandle; }
    /// All of Input converted (see IconvConvert).
    std::string Convert(std::string_view Input) const {
        std::string out;
        IconvConvert(FHandle, Input, out);
        return out;
    }

private:
    TIconvHandle FHandle = InvalidIconvHandle;
};

}  // namespace tandrel::mime
