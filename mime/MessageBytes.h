#pragma once
// A composed message as bytes: its lines, each followed by CR LF, in pieces. A
// large encoded body becomes one piece shared with the part that encoded it, so
// composing, saving and sending a message copy no body; copying the whole
// message shares its pieces too.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel::mime {

/// The lines of a message as bytes, each followed by CR LF, held in read-only
/// pieces that copies of the object share. Every piece holds whole lines.
class TMessageBytes {
public:
    /// Appends one line (bytes, copied) and CR LF after it. A line may hold CR or
    /// LF bytes of its own; Lines() gives it back as one line all the same.
    void AppendLine(std::string_view Line);
    /// AppendLine for each line, in order.
    void AppendLines(const std::vector<std::string>& Value);
    /// Appends lines that are already bytes, each followed by CR LF and holding no
    /// other CR or LF, without copying them: the piece is shared. A block whose
    /// last line lacks its CR LF is copied with one added.
    void AppendBlock(std::shared_ptr<const std::string> Block);

    /// Appends the lines of Value; its shared pieces stay shared.
    void Append(const TMessageBytes& Value);
    /// Room for about Bytes more bytes of lines, taken at once (a large room from
    /// huge pages), so that appending many lines does not grow the buffer step by step.
    void Reserve(std::size_t Bytes);
    /// Makes the lines appended so far a piece of their own, which copies and
    /// Append then share instead of copying them.
    void Seal() { CloseOpenPiece(); }
    /// A message given as bytes (moved in, not copied): its lines are what lies
    /// between CR LF pairs, and a last line without CR LF gets one.
    [[nodiscard]] static TMessageBytes FromText(std::string Bytes);

    /// Number of bytes, line ends included.
    [[nodiscard]] std::size_t Size() const { return FSize; }
    [[nodiscard]] bool Empty() const { return FSize == 0; }
    /// The bytes in order, in pieces; valid until the object next changes.
    [[nodiscard]] std::vector<std::string_view> Pieces() const;
    /// The lines, as they were appended (a copy, made on each call).
    [[nodiscard]] std::vector<std::string> Lines() const;
    /// All bytes in one string.
    [[nodiscard]] std::string Joined() const;
    void Clear();

private:
    struct TPiece {
        std::shared_ptr<const std::string> Bytes;
        // Where each line of Bytes ends (before its CR LF), kept only when a line
        // holds a CR or LF of its own; empty when splitting at CR LF finds them.
        std::vector<std::size_t> LineEnds;
    };

    void CloseOpenPiece();
    void AppendPiece(TPiece Piece);
    static void SplitPiece(std::string_view Bytes, const std::vector<std::size_t>& LineEnds,
                           std::vector<std::string>& Out);

    std::vector<TPiece> FPieces;
    // The piece lines are appended to, until a shared block comes, and its line
    // ends as a piece keeps them (empty while splitting at CR LF finds them).
    std::string FOpen;
    std::vector<std::size_t> FOpenEnds;
    std::size_t FSize = 0;
};

}  // namespace tandrel::mime
