#include "mime/Iconv.h"

#include "support/AsciiText.h"

#include <iconv.h>

#include <atomic>
#include <cerrno>

namespace tandrel::mime {

std::mutex IconvCS;

namespace {

std::atomic<bool> Bound{false};

iconv_t Native(TIconvHandle Handle) { return static_cast<iconv_t>(Handle); }

std::string WithSuffix(std::string_view Code, std::string_view Suffix) {
    std::string s(Code);
    s += Suffix;
    return s;
}

// glibc's ISO-2022-CN-EXT reader reads past the end of its input on a stray
// shift (one SO byte is enough) and can crash. Text in that charset is read by
// the ISO-2022-CN reader instead: it knows the same escapes for GB 2312 and
// CNS 11643 planes 1 and 2, and skips the extension's designations.
bool NamesIso2022CnExt(std::string_view Code) {
    std::string name;
    for (char c : Code.substr(0, Code.find("//")))
        if (c != '-' && c != '_') name.push_back(support::UpperAscii(c));
    return name == "ISO2022CNEXT";
}

}  // namespace

bool InitIconvInterface() {
    if (Bound.load(std::memory_order_acquire)) return true;
    std::lock_guard lock(IconvCS);
    Bound.store(true, std::memory_order_release);
    return true;
}

bool DestroyIconvInterface() {
    std::lock_guard lock(IconvCS);
    return Bound.exchange(false, std::memory_order_acq_rel);
}

bool IsIconvloaded() { return Bound.load(std::memory_order_acquire); }

TIconvHandle IconvOpen(std::string_view ToCode, std::string_view FromCode) {
    if (!IsIconvloaded()) return InvalidIconvHandle;
    const std::string to(ToCode), from(NamesIso2022CnExt(FromCode) ? "ISO-2022-CN" : FromCode);
    return ::iconv_open(to.c_str(), from.c_str());
}

TIconvHandle IconvOpenIgnore(std::string_view ToCode, std::string_view FromCode) {
    return IconvOpen(WithSuffix(ToCode, "//IGNORE"), FromCode);
}

TIconvHandle IconvOpenTranslit(std::string_view ToCode, std::string_view FromCode) {
    return IconvOpen(WithSuffix(ToCode, "//IGNORE//TRANSLIT"), FromCode);
}

std::size_t IconvConvert(TIconvHandle Handle, std::string_view Input, std::string& Output) {
    Output.clear();
    if (Handle == InvalidIconvHandle || !IsIconvloaded()) return 0;
    const auto step = [cd = Native(Handle)](char** In, std::size_t* InLeft, char** Out,
                                            std::size_t* OutLeft) {
        return ::iconv(cd, In, InLeft, Out, OutLeft);
    };
    // Two output bytes per input byte suit the common roads (one byte to
    // UCS-2, UCS-2 to UTF-8); the buffer doubles when they do not, so nothing
    // is ever cut off.
    Output.resize(Input.size() * 2 + 16);
    char* in = const_cast<char*>(Input.data());  // iconv's signature; the input is not written
    std::size_t inLeft = Input.size();
    char* out = Output.data();
    std::size_t outLeft = Output.size();
    const auto grow = [&] {
        const std::size_t used = static_cast<std::size_t>(out - Output.data());
        Output.resize(Output.size() * 2);
        out = Output.data() + used;
        outLeft = Output.size() - used;
    };
    const char* lastStop = nullptr;
    while (inLeft > 0) {
        const bool stopped = step(&in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1);
        // Some of glibc's converters, skipping a rejected sequence, step past the end of
        // the input: what is left then wraps round. Nothing lies there to convert.
        if (inLeft > Input.size()) {
            in = const_cast<char*>(Input.data() + Input.size());
            inLeft = 0;
            break;
        }
        if (!stopped) break;
        if (errno == E2BIG) {
            grow();
        } else if (errno == EILSEQ && inLeft > 0) {
            // Skip a rejected byte, but only when the converter made no
            // progress since it last stopped (with //IGNORE it stops after
            // skipping by itself).
            if (in == lastStop) {
                ++in;
                --inLeft;
            }
            lastStop = in;
        } else if (errno == EINVAL) {
            in += inLeft;  // an incomplete sequence at the end
            inLeft = 0;
        } else if (errno != EILSEQ) {
            break;
        }
    }
    // Return stateful encodings (UTF-7, ISO-2022-*) to their initial state.
    while (step(nullptr, nullptr, &out, &outLeft) == static_cast<std::size_t>(-1) && errno == E2BIG) grow();
    Output.resize(static_cast<std::size_t>(out - Output.data()));
    return Input.size() - inLeft;
}

void IconvClose(TIconvHandle& Handle) {
    // Closed even after DestroyIconvInterface: the handle is the C library's either way.
    if (Handle != InvalidIconvHandle) ::iconv_close(Native(Handle));
    Handle = InvalidIconvHandle;
}

}  // namespace tandrel::mime
