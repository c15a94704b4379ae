// Composition, Base64, Windows-1252 -> UTF-8 conversion and parameter splitting of the
// MIME library.
// Run through bench/mime/run, which sets the figures beside Python's email package.
//
//   mime_bench [Google Benchmark flags]   the timed cases
//   mime_bench --peak-rss MB              composes one message with an MB-megabyte
//                                         attachment and prints its peak resident size

#include "mime/Charsets.h"
#include "mime/MimeMess.h"
#include "mime/TextUtils.h"
#include "support/Codings.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace tandrel::mime;
using namespace tandrel;

constexpr std::size_t kMB = 1 << 20;

std::string RandomBytes(std::size_t Size) {
    std::mt19937_64 gen(42);
    std::string s(Size, '\0');
    for (std::size_t i = 0; i + 8 <= Size; i += 8) {
        const auto v = gen();
        std::memcpy(&s[i], &v, 8);
    }
    return s;
}

// Portuguese-looking Windows-1252 text with accents, in lines of about 70 bytes.
std::string Cp1252Text(std::size_t Size) {
    static const char* const kWords[] = {"cadastro",  "S\xE3o",           "Paulo", "cliente", "endere\xE7o",
                                         "n\xFAmero", "informa\xE7\xE3o", "=",     "R$",      "10,00",
                                         "\x80",      "a\xE7\xE3o",       "e"};
    std::string s;
    s.reserve(Size + 80);
    std::size_t lineStart = 0;
    std::mt19937 gen(7);
    while (s.size() < Size) {
        s += kWords[gen() % std::size(kWords)];
        if (s.size() - lineStart > 70) {
            s += "\r\n";
            lineStart = s.size();
        } else {
            s += ' ';
        }
    }
    s.resize(Size);
    return s;
}

// Text lines (UTF-8) of about one megabyte for the body.
const std::vector<std::string>& BodyLines() {
    static const std::vector<std::string> lines = [] {
        std::vector<std::string> out;
        const std::string text = Cp1252Text(kMB);
        std::size_t start = 0;
        while (start < text.size()) {
            const auto end = text.find("\r\n", start);
            out.push_back(
                CharsetConversion(text.substr(start, end - start), TMimeChar::CP1252, TMimeChar::UTF_8));
            if (end == std::string::npos) break;
            start = end + 2;
        }
        return out;
    }();
    return lines;
}

// The message the mail component builds: mixed root, a text body, an attachment
// (copied in, as a caller that keeps its own bytes does).
std::size_t ComposeMessage(std::string Attachment, TMimeEncoding BodyEncoding) {
    TMimeMess mess;
    mess.Header().SetCharsetCode(TMimeChar::UTF_8);
    mess.Header().SetFrom("\"Loja\" <loja@example.com>");
    mess.Header().ToList() = {"cliente@example.com"};
    mess.Header().SetSubject("Dados Cadastrais do Cliente");
    TMimePart& root = mess.AddPartMultipart("mixed", nullptr);
    mess.AddPartTextEx(BodyLines(), &root, TMimeChar::UTF_8, false, BodyEncoding);
    if (!Attachment.empty()) mess.AddPartBinary(std::move(Attachment), "dados.pdf", &root);
    mess.EncodeMessage();
    return mess.Bytes().Size();
}

void BM_ComposeAttachment(benchmark::State& State) {
    const std::string attachment = RandomBytes(static_cast<std::size_t>(State.range(0)) * kMB);
    for (auto _ : State)
        benchmark::DoNotOptimize(ComposeMessage(attachment, TMimeEncoding::ME_QUOTED_PRINTABLE));
    State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations() * attachment.size()));
}
BENCHMARK(BM_ComposeAttachment)->Arg(5)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);

void BM_ComposeTextBody(benchmark::State& State) {
    const auto encoding = static_cast<TMimeEncoding>(State.range(0));
    for (auto _ : State) benchmark::DoNotOptimize(ComposeMessage({}, encoding));
    State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations() * kMB));
    State.SetLabel(encoding == TMimeEncoding::ME_BASE64 ? "base64" : "quoted-printable");
}
BENCHMARK(BM_ComposeTextBody)
    ->Arg(static_cast<int>(TMimeEncoding::ME_QUOTED_PRINTABLE))
    ->Arg(static_cast<int>(TMimeEncoding::ME_BASE64))
    ->Unit(benchmark::kMillisecond);

void BM_EncodeBase64(benchmark::State& State) {
    const std::string data = RandomBytes(20 * kMB);
    for (auto _ : State) benchmark::DoNotOptimize(support::EncodeBase64(data));
    State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations() * data.size()));
}
BENCHMARK(BM_EncodeBase64)->Unit(benchmark::kMillisecond);

void BM_Cp1252ToUtf8(benchmark::State& State) {
    const bool builtIn = State.range(0) != 0;
    const std::string text = Cp1252Text(10 * kMB);
    for (auto _ : State) {
        if (builtIn) {
            TBuiltInConversionScope scope;
            benchmark::DoNotOptimize(CharsetConversion(text, TMimeChar::CP1252, TMimeChar::UTF_8));
        } else {
            benchmark::DoNotOptimize(CharsetConversion(text, TMimeChar::CP1252, TMimeChar::UTF_8));
        }
    }
    State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations() * text.size()));
    State.SetLabel(builtIn ? "built-in" : "iconv");
}
BENCHMARK(BM_Cp1252ToUtf8)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A header value of N empty parameters before the one asked for: the time per
// separator stays flat as N grows.
void BM_GetParameterManySeparators(benchmark::State& State) {
    const std::string value =
        "attachment" + std::string(static_cast<std::size_t>(State.range(0)), ';') + "; filename=\"a.pdf\"";
    for (auto _ : State) benchmark::DoNotOptimize(GetParameter(value, "filename"));
    State.SetItemsProcessed(static_cast<std::int64_t>(State.iterations() * State.range(0)));
}
BENCHMARK(BM_GetParameterManySeparators)->Arg(100'000)->Arg(400'000)->Unit(benchmark::kMillisecond);

int PeakRss(int Megabytes) {
    BodyLines();
    // The caller's bytes are handed over, so the figure is what composing holds.
    ComposeMessage(RandomBytes(static_cast<std::size_t>(Megabytes) * kMB),
                   TMimeEncoding::ME_QUOTED_PRINTABLE);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%ld\n", usage.ru_maxrss);  // kilobytes
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--peak-rss") == 0) return PeakRss(std::atoi(argv[2]));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
