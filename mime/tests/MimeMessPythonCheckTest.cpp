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

std::string Json(std::string_view Text) {
    std::string out = "\"";
    for (char c : Text) {
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

std::string RandomBytes(std::size_t Size, unsigned Seed) {
    std::mt19937 gen(Seed);
    std::string s(Size, '\0');
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

    void Write(const std::string& Name, std::string_view Bytes) const {
        std::ofstream(FPath / Name, std::ios::binary)
            .write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
    }
    // Runs the checker; returns its exit status and leaves its output in Output.
    int RunChecker(std::string& Output) const {
        const std::string script = std::string(TANDREL_SOURCE_DIR) + "/mime/tests/check_with_python_email.py";
        const std::string command =
            std::string(TANDREL_PYTHON) + " '" + script + "' '" + FPath.string() + "' 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr) return -1;
        std::array<char, 4096> buffer{};
        while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe) != nullptr)
            Output += buffer.data();
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
    friend void PrintTo(const Case& C, std::ostream* Os) { *Os << C.name; }
};

const char* const kSubject = "Ol\xC3\xA1: seu cadastro, Jos\xC3\xA9 \xE2\x82\xAC 10";

std::string Attachment(TMimeMess& Mess, TMimePart& Parent, const CheckFolder& Folder, std::size_t Size,
                       const std::string& Name, const char* Type) {
    const std::string file = "att-" + std::to_string(Parent.GetSubPartCount()) + ".bin";
    std::string bytes = RandomBytes(Size, static_cast<unsigned>(Size));
    Folder.Write(file, bytes);
    Mess.AddPartBinary(std::move(bytes), Name, &Parent);
    return "{\"type\": " + Json(Type) + ", \"filename\": " + Json(Name) + ", \"file\": " + Json(file) + "}";
}

std::string MixedWithAttachment(TMimeMess& Mess, const CheckFolder& Folder, std::size_t Size) {
    TMimePart& root = Mess.AddPartMultipart("mixed", nullptr);
    const std::string text = "Nome: Jos\xC3\xA9 da Silva\r\nCidade: S\xC3\xA3o Paulo\r\n";
    Mess.AddPartTextEx({"Nome: Jos\xC3\xA9 da Silva", "Cidade: S\xC3\xA3o Paulo"}, &root, TMimeChar::UTF_8,
                       false, TMimeEncoding::ME_BASE64);
    const std::string leaf =
        "{\"type\": \"text/plain\", \"charset\": \"utf-8\", \"text\": " + Json(text) + "}";
    const std::string att =
        Attachment(Mess, root, Folder, Size, "relat\xC3\xB3rio final, v2.pdf", "application/pdf");
    return "{\"type\": \"multipart/mixed\", \"parts\": [" + leaf + ", " + att + "]}";
}

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases{
        {"mixedTextAndBinary",
         [](TMimeMess& Mess, const CheckFolder& Folder) { return MixedWithAttachment(Mess, Folder, 70001); }},
        {"threeMegabyteAttachment",
         [](TMimeMess& Mess, const CheckFolder& Folder) {
             return MixedWithAttachment(Mess, Folder, 3 << 20);
         }},
        {"alternativeRelated",
         [](TMimeMess& Mess, const CheckFolder& Folder) {
             TMimePart& root = Mess.AddPartMultipart("alternative", nullptr);
             Mess.AddPartText(
                 {"Texto com acentua\xC3\xA7\xC3\xA3o e uma linha bem longa " + std::string(120, 'x')},
                 &root);
             TMimePart& related = Mess.AddPartMultipart("related", &root);
             const std::string html =
                 "<html><body><p>Ol\xC3\xA1 = mundo</p><img src=\"cid:logo.png\"></body></html>";
             Mess.AddPartHTML({html}, &related);
             const std::string image = RandomBytes(4000, 7);
             Folder.Write("logo.bin", image);
             Mess.AddPartHTMLBinary(image, "logo.png", "<logo.png>", &related);
             // The line break ending a quoted-printable body belongs to the boundary
             // that follows, so the texts arrive without it.
             return std::string("{\"type\": \"multipart/alternative\", \"parts\": [") +
                    "{\"type\": \"text/plain\", \"charset\": \"iso-8859-1\", \"text\": " +
                    Json("Texto com acentua\xC3\xA7\xC3\xA3o e uma linha bem longa " +
                         std::string(120, 'x')) +
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
