#include "mime/MessageBytes.h"

#include "mime/TextUtils.h"
#include "support/LargeBytes.h"

#include <cstring>

namespace tandrel::mime {

namespace {

constexpr std::string_view kCrLf = "\r\n";

bool HoldsLineBreak(std::string_view Line) {
    return !Line.empty() && (std::memchr(Line.data(), '\r', Line.size()) != nullptr ||
                             std::memchr(Line.data(), '\n', Line.size()) != nullptr);
}

// Where each line of Bytes ends, for lines that hold no CR or LF of their own.
std::vector<std::size_t> CrLfLineEnds(std::string_view Bytes) {
    std::vector<std::size_t> ends;
    for (std::size_t from = 0; from < Bytes.size();) {
        const TTextLine line = NextLine(Bytes, from, TLineBreak::CrLf);
        ends.push_back(from + line.Line.size());
        from = line.Next;
    }
    return ends;
}

}  // namespace

void TMessageBytes::AppendLine(std::string_view Line) {
    // Line ends are kept only from the first line that splitting at CR LF would cut:
    // the common message has none, and its lines cost no bookkeeping.
    const bool keepEnds = !FOpenEnds.empty() || HoldsLineBreak(Line);
    if (keepEnds && FOpenEnds.empty()) FOpenEnds = CrLfLineEnds(FOpen);
    FOpen.append(Line);
    if (keepEnds) FOpenEnds.push_back(FOpen.size());
    FOpen.append(kCrLf);
    FSize += Line.size() + kCrLf.size();
}

void TMessageBytes::AppendLines(const std::vector<std::string>& Value) {
    std::size_t size = 0;
    for (const std::string& line : Value) size += line.size() + kCrLf.size();
    Reserve(size);
    for (const std::string& line : Value) AppendLine(line);
}

void TMessageBytes::Reserve(std::size_t Bytes) { support::ReserveLarge(FOpen, FOpen.size() + Bytes); }

void TMessageBytes::Append(const TMessageBytes& Value) {
    if (&Value == this) {
        const TMessageBytes copy = Value;
        Append(copy);
        return;
    }
    for (const TPiece& piece : Value.FPieces) AppendPiece(piece);
    if (Value.FOpen.empty()) return;
    if (!FOpenEnds.empty() || !Value.FOpenEnds.empty()) {
        if (FOpenEnds.empty()) FOpenEnds = CrLfLineEnds(FOpen);
        const std::size_t offset = FOpen.size();
        for (const std::size_t end : Value.FOpenEnds.empty() ? CrLfLineEnds(Value.FOpen) : Value.FOpenEnds)
            FOpenEnds.push_back(offset + end);
    }
    FOpen.append(Value.FOpen);
    FSize += Value.FOpen.size();
}

TMessageBytes TMessageBytes::FromText(std::string Bytes) {
    TMessageBytes message;
    if (Bytes.empty()) return message;
    if (!Bytes.ends_with(kCrLf)) Bytes.append(kCrLf);
    message.AppendBlock(std::make_shared<const std::string>(std::move(Bytes)));
    return message;
}

void TMessageBytes::AppendBlock(std::shared_ptr<const std::string> Block) {
    if (!Block || Block->empty()) return;
    // A block whose last line lacks its CR LF would run into the next line: the
    // saved bytes and the lines sent would differ. It gets its CR LF (a copy, for
    // a caller that broke the contract only).
    if (!Block->ends_with(kCrLf)) Block = std::make_shared<const std::string>(*Block + std::string(kCrLf));
    AppendPiece({std::move(Block), {}});
}

void TMessageBytes::AppendPiece(TPiece Piece) {
    CloseOpenPiece();
    FSize += Piece.Bytes->size();
    FPieces.push_back(std::move(Piece));
}

void TMessageBytes::CloseOpenPiece() {
    if (FOpen.empty()) return;
    FPieces.push_back({std::make_shared<const std::string>(std::move(FOpen)), std::move(FOpenEnds)});
    FOpen.clear();
    FOpenEnds.clear();
}

std::vector<std::string_view> TMessageBytes::Pieces() const {
    std::vector<std::string_view> pieces;
    pieces.reserve(FPieces.size() + 1);
    for (const TPiece& piece : FPieces) pieces.emplace_back(*piece.Bytes);
    if (!FOpen.empty()) pieces.emplace_back(FOpen);
    return pieces;
}

void TMessageBytes::SplitPiece(std::string_view Bytes, const std::vector<std::size_t>& LineEnds,
                               std::vector<std::string>& Out) {
    std::size_t start = 0;
    if (!LineEnds.empty()) {
        for (const std::size_t end : LineEnds) {
            Out.emplace_back(Bytes.substr(start, end - start));
            start = end + kCrLf.size();
        }
        return;
    }
    ForEachLine(Bytes, TLineBreak::CrLf, [&](std::string_view Line) { Out.emplace_back(Line); });
}

std::vector<std::string> TMessageBytes::Lines() const {
    std::vector<std::string> lines;
    for (const TPiece& piece : FPieces) SplitPiece(*piece.Bytes, piece.LineEnds, lines);
    SplitPiece(FOpen, FOpenEnds, lines);
    return lines;
}

std::string TMessageBytes::Joined() const {
    std::string bytes;
    bytes.reserve(FSize);
    for (const std::string_view piece : Pieces()) bytes.append(piece);
    return bytes;
}

void TMessageBytes::Clear() { *this = TMessageBytes(); }

}  // namespace tandrel::mime
