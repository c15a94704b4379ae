#include "mime/Iconv.h"

#include <dlfcn.h>

#include <atomic>
#include <cerrno>
#include <memory>

namespace tandrel::mime {

std::mutex IconvCS;

namespace {

using IconvOpenFn = TIconvHandle (*)(const char*, const char*);
using IconvFn = std::size_t (*)(TIconvHandle, char**, std::size_t*, char**, std::size_t*);
using IconvCloseFn = int (*)(TIconvHandle);

struct DlCloser {
    void operator()(void* Lib) const { ::dlclose(Lib); }
};

// The bound library. The function pointers are written under IconvCS before
// Loaded is released, so readers that see Loaded also see them.
struct Binding {
    std::unique_ptr<void, DlCloser> Lib;
    std::atomic<IconvOpenFn> Open{nullptr};
    std::atomic<IconvFn> Convert{nullptr};
    std::atomic<IconvCloseFn> Close{nullptr};
    std::atomic<bool> Loaded{false};
};

Binding& Bound() {
    static Binding b;
    return b;
}

std::string WithSuffix(std::string_view Code, std::string_view Suffix) {
    std::string s(Code);
    s += Suffix;
    return s;
}

}  // namespace

bool InitIconvInterface() {
    Binding& b = Bound();
    if (b.Loaded.load(std::memory_order_acquire)) return true;
    std::lock_guard lock(IconvCS);
    if (b.Loaded.load(std::memory_order_relaxed)) return true;
    std::unique_ptr<void, DlCloser> lib(::dlopen("libc.so.6", RTLD_NOW | RTLD_LOCAL));
    if (!lib) return false;
    auto open = reinterpret_cast<IconvOpenFn>(::dlsym(lib.get(), "iconv_open"));
    auto conv = reinterpret_cast<IconvFn>(::dlsym(lib.get(), "iconv"));
    auto close = reinterpret_cast<IconvCloseFn>(::dlsym(lib.get(), "iconv_close"));
    if (!open || !conv || !close) return false;
    b.Open = open;
    b.Convert = conv;
    b.Close = close;
    b.Lib = std::move(lib);
    b.Loaded.store(true, std::memory_order_release);
    return true;
}

bool DestroyIconvInterface() {
    Binding& b = Bound();
    std::lock_guard lock(IconvCS);
    if (!b.Loaded.load(std::memory_order_relaxed)) return false;
    b.Loaded.store(false, std::memory_order_release);
    b.Open = nullptr;
    b.Convert = nullptr;
    b.Close = nullptr;
    b.Lib.reset();
    return true;
}

bool IsIconvloaded() { return Bound().Loaded.load(std::memory_order_acquire); }

TIconvHandle IconvOpen(std::string_view ToCode, std::string_view FromCode) {
    Binding& b = Bound();
    if (!b.Loaded.load(std::memory_order_acquire)) return InvalidIconvHandle;
    const std::string to(ToCode), from(FromCode);
    return b.Open.load()(to.c_str(), from.c_str());
}

TIconvHandle IconvOpenIgnore(std::string_view ToCode, std::string_view FromCode) {
    return IconvOpen(WithSuffix(ToCode, "//IGNORE"), FromCode);
}

TIconvHandle IconvOpenTranslit(std::string_view ToCode, std::string_view FromCode) {
    return IconvOpen(WithSuffix(ToCode, "//IGNORE//TRANSLIT"), FromCode);
}

std::size_t IconvConvert(TIconvHandle Handle, std::string_view Input, std::string& Output) {
    Output.clear();
    Binding& b = Bound();
    if (Handle == InvalidIconvHandle || !b.Loaded.load(std::memory_order_acquire)) return 0;
    const IconvFn iconv = b.Convert.load();
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
        if (iconv(Handle, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1)) break;
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
    while (iconv(Handle, nullptr, nullptr, &out, &outLeft) == static_cast<std::size_t>(-1) && errno == E2BIG)
        grow();
    Output.resize(static_cast<std::size_t>(out - Output.data()));
    return Input.size() - inLeft;
}

void IconvClose(TIconvHandle& Handle) {
    Binding& b = Bound();
    if (Handle != InvalidIconvHandle && b.Loaded.load(std::memory_order_acquire)) b.Close.load()(Handle);
    Handle = InvalidIconvHandle;
}

}  // namespace tandrel::mime
