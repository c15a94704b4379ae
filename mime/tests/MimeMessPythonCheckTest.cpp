// Messages composed by TMimeMess, read back by Python's email package: the
// tree, types, charsets, decoded subject and names and the attachment bytes
// must be what went in.

#include "mime/MimeMess.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace tandrel::mime {
namespace {

namespace fs = std::filesystem;

std::string Json(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20) {
            std::array<char, 8> esc{};
            std::snprintf(esc.data(), esc.size(), "\\u%04x", b);
            out += esc.data();
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(gen() & 0xFF);
    return s;
}

// One folder with the message, its expectations and the attachment files.
class CheckFolder {
public:
    CheckFolder() {
        std::string templ = (fs::temp_directory_path() / "pyemail-XXXXXX").string();
        FPath = ::mkdtemp(templ.data());
    }
    ~CheckFolder() {
        std::error_code ec;
        fs::remove_all(FPath, ec);
    }
    CheckFolder(const CheckFolder&) = delete;
    CheckFolder& operator=(const CheckFolder&) = delete;

    void Write(const std::string& name, std::string_view bytes) const {
        std::ofstream(FPath / name, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    // Runs the checker; returns its exit status and leaves its output in Output.
    int RunChecker(std::string& Output) const {
        const std::string script = std::string(TANDREL_SOURCE_DIR) + "/mime/tests/check_with_python_email.py";
        const std::string command =
            std::string(TANDREL_PYTHON) + " '" + script + "' '" + FPath.string() + "' 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr) return -1;
        std::array<char, 4096> buffer{};
        while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe) != nullptr) Output += buffer.data();
        const int status = ::pclose(pipe);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    fs::path FPath;
};

struct Case {
    const char* name;
    // Builds the message; writes attachment files and returns the JSON of the tree.
    std::function<std::string(TMimeMess&, const CheckFolder&)> build;
    friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

const char* const kSubject = "Ol\xC3\xA1: seu cadastro, Jos\xC3\xA9 \xE2\x82\xAC 10";

std::string Attachment(TMimeMess& mess, TMimePart& parent, const CheckFolder& folder, std::size_t size,
                       const std::string& name, const char* type) {
    const std::string file = "att-" + std::to_string(parent.GetSubPartCount()) + ".bin";
    std::string bytes = RandomBytes(size, static_cast<unsigned>(size));
    folder.Write(file, bytes);
    mess.AddPartBinary(std::move(bytes), name, &parent);
    return "{\"type\": " + Json(type) + ", \"filename\": " + Json(name) + ", \"file\": " + Json(file) + "}";
}

std::string MixedWithAttachment(TMimeMess& mess, const CheckFolder& folder, std::size_t size) {
    TMimePart& root = mess.AddPartMultipart("mixed", nullptr);
    const std::string text = "Nome: Jos\xC3\xA9 da Silva\r\nCidade: S\xC3\xA3o Paulo\r\n";
    mess.AddPartTextEx({"Nome: Jos\xC3\xA9 da Silva", "Cidade: S\xC3\xA3o Paulo"}, &root, TMimeChar::UTF_8, false,
                       TMimeEncoding::ME_BASE64);
    const std::string leaf = "{\"type\": \"text/plain\", \"charset\": \"utf-8\", \"text\": " + Json(text) + "}";
    const std::string att = Attachment(mess, root, folder, size, "relat\xC3\xB3rio final, v2.pdf", "application/pdf");
    return "{\"type\": \"multipart/mixed\", \"parts\": [" + leaf + ", " + att + "]}";
}

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases{
        {"mixedTextAndBinary",
         [](TMimeMess& mess, const CheckFolder& folder) { return MixedWithAttachment(mess, folder, 70001); }},
        {"threeMegabyteAttachment",
         [](TMimeMess& mess, const CheckFolder& folder) { return MixedWithAttachment(mess, folder, 3 << 20); }},
        {"alternativeRelated",
         [](TMimeMess& mess, const CheckFolder& folder) {
             TMimePart& root = mess.AddPartMultipart("alternative", nullptr);
             mess.AddPartText({"Texto com acentua\xC3\xA7\xC3\xA3o e uma linha bem longa " + std::string(120, 'x')},
                              &root);
             TMimePart& related = mess.AddPartMultipart("related", &root);
             const std::string html = "<html><body><p>Ol\xC3\xA1 = mundo</p><img src=\"cid:logo.png\"></body></html>";
             mess.AddPartHTML({html}, &related);
             const std::string image = RandomBytes(4000, 7);
             folder.Write("logo.bin", image);
             mess.AddPartHTMLBinary(image, "logo.png", "<logo.png>", &related);
             // The line break ending a quoted-printable body belongs to the boundary
             // that follows, so the texts arrive without it.
             return std::string("{\"type\": \"multipart/alternative\", \"parts\": [") +
                    "{\"type\": \"text/plain\", \"charset\": \"iso-8859-1\", \"text\": " +
                    Json("Texto com acentua\xC3\xA7\xC3\xA3o e uma linha bem longa " + std::string(120, 'x')) +
                    "}, {\"type\": \"multipart/related\", \"parts\": [" +
                    "{\"type\": \"text/html\", \"charset\": \"utf-8\", \"text\": " + Json(html) + "}, " +
                    "{\"type\": \"image/png\", \"filename\": \"logo.png\", \"content_id\": \"<logo.png>\", "
                    "\"file\": \"logo.bin\"}]}]}";
         }},
    };
    return cases;
}

class PythonEmailCheck : public ::testing::TestWithParam<Case> {};

TEST_P(PythonEmailCheck, PythonReadsWhatWentIn) {
    if (!fs::exists(TANDREL_PYTHON)) GTEST_SKIP() << "no " << TANDREL_PYTHON << " on this machine";
    CheckFolder folder;
    TMimeMess mess;
    TMessHeader& header = mess.Header();
    header.SetCharsetCode(TMimeChar::UTF_8);
    header.SetFrom("\"Loja Jo\xC3\xA3o: Matriz, SP\" <loja@example.com>");
    header.ToList() = {"cliente@example.com", "\"Ana Lu\xC3\xADsa, Compras\" <ana@example.com>"};
    header.SetSubject(kSubject);
    const std::string tree = GetParam().build(mess, folder);
    mess.EncodeMessage();

    std::string wire;
    for (const auto& line : mess.Lines()) {
        wire += line;
        wire += "\r\n";
    }
    folder.Write("message.eml", wire);
    folder.Write("expected.json",
                 "{\"subject\": " + Json(kSubject) + ", \"from\": [[" + Json("Loja Jo\xC3\xA3o: Matriz, SP") +
                     ", \"loja@example.com\"]], \"to\": [[\"\", \"cliente@example.com\"], [" +
                     Json("Ana Lu\xC3\xADsa, Compras") + ", \"ana@example.com\"]], \"tree\": " + tree + "}");
    std::string output;
    EXPECT_EQ(folder.RunChecker(output), 0) << output;
}

INSTANTIATE_TEST_SUITE_P(Messages, PythonEmailCheck, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tandrel::mime
