#pragma once
// One node of a MIME entity tree: header lines, body lines and owned sub-parts.
// Composing turns raw content into transfer-encoded lines and flattens the tree
// into the finished entity; decomposing reads such an entity back into a tree.

#include "mime/Charsets.h"
#include "mime/MessageBytes.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel::mime {

/// Class of a part's primary media type; decides how it is encoded and composed.
enum class TMimePrimary { MP_TEXT, MP_MULTIPART, MP_MESSAGE, MP_BINARY };

/// Transfer encoding of a part. UU and XX are read but never written.
enum class TMimeEncoding { ME_7BIT, ME_8BIT, ME_QUOTED_PRINTABLE, ME_BASE64, ME_UU, ME_XX };

class TMimePart;

/// Callback of WalkPart, called with each visited part.
using THookWalkPart = std::function<void(TMimePart& Sender)>;

namespace detail {

/// The fields of a part that TMimePart::Assign copies, in one assignment: a field
/// added here travels with the copy.
struct TMimePartAssigned {
    std::string FPrimary;
    TMimePrimary FPrimaryCode = TMimePrimary::MP_TEXT;
    std::string FSecondary;
    std::string FEncoding;
    TMimeEncoding FEncodingCode = TMimeEncoding::ME_7BIT;
    std::string FDefaultCharset;
    std::string FCharset;
    TMimeChar FCharsetCode = TMimeChar::ISO_8859_1;
    TMimeChar FTargetCharset = TMimeChar::ISO_8859_1;
    std::string FDescription;
    std::string FDisposition;
    std::string FContentID;
    std::string FBoundary;
    std::string FFileName;
    std::vector<std::string> FLines;
    // The body is held as bytes only: a base64 body is one piece that composing
    // shares, so a large attachment costs its encoded size once.
    TMessageBytes FBody;
    std::vector<std::string> FHeaders;
    std::vector<std::string> FPrePart;
    std::vector<std::string> FPostPart;
    int FMaxLineLength = 78;
    bool FAttachInside = false;
    bool FConvertCharset = true;
    bool FBinaryDecomposer = false;
};

}  // namespace detail

/// A MIME entity: fields, header lines, body lines and owned sub-parts.
/// Texts (descriptions, file names, charset names) are UTF-8; Lines, PartBody,
/// Headers, PrePart, PostPart and DecodedLines hold bytes. Nothing here throws
/// on content: every combination of fields gives output.
class TMimePart : private detail::TMimePartAssigned {
public:
    /// An empty part: text/ISO-8859-1/7bit, TargetCharset the system charset,
    /// MaxLineLength 78, SubLevel 0, MaxSubLevel -1, ConvertCharset on.
    TMimePart();
    ~TMimePart();
    TMimePart(const TMimePart&) = delete;
    TMimePart& operator=(const TMimePart&) = delete;

    // --- tree and state -------------------------------------------------

    /// Back to the creation defaults and frees every sub-part; keeps Lines,
    /// DefaultCharset, MaxLineLength, SubLevel, MaxSubLevel and OnWalkPart.
    void Clear();
    /// Copies the fields and line lists of Value (not its sub-parts,
    /// DecodedLines, ForcedHTMLConvert, levels or callback).
    void Assign(const TMimePart& Value);
    /// Assign, then a deep copy of Value's sub-parts under this part.
    void AssignSubParts(const TMimePart& Value);
    /// Appends a new sub-part (one level deeper, DefaultCharset and MaxSubLevel
    /// inherited) and returns it; this part keeps owning it.
    TMimePart& AddSubPart();
    /// Number of sub-parts.
    [[nodiscard]] int GetSubPartCount() const;
    /// The sub-part at a zero-based index, or nullptr when Index is out of range.
    [[nodiscard]] TMimePart* GetSubPart(int Index);
    [[nodiscard]] const TMimePart* GetSubPart(int Index) const;
    /// Frees and removes one sub-part; an index out of range does nothing.
    void DeleteSubPart(int Index);
    /// Frees every sub-part.
    void ClearSubParts();
    /// Whether parsing may still create sub-parts at this level.
    [[nodiscard]] bool CanSubPart() const;
    /// Calls OnWalkPart for this part and then, depth first, for every sub-part
    /// (handing the callback down). Does nothing when no callback is set.
    void WalkPart();

    // --- composing --------------------------------------------------------

    /// Rebuilds PartBody from DecodedLines: charset conversion (with byte order
    /// mark) for converted text parts, then the transfer encoding.
    void EncodePart();
    /// Rebuilds Headers from the fields (Content-type first).
    void EncodePartHeader();
    /// Rebuilds Lines from Headers (folded at MaxLineLength), an empty line,
    /// the sub-parts between boundaries and PartBody. Sub-parts are not
    /// re-encoded; they are composed straight into this part's Lines and keep
    /// none of their own.
    void ComposeParts();
    /// Appends what ComposeParts would put in Lines to Out, as bytes, leaving
    /// Lines as they are. Base64 bodies are shared with Out, not copied.
    void ComposeParts(TMessageBytes& Out);
    /// Sets Primary and Secondary from a file name's extension;
    /// "application"/"octet-stream" when the extension is unknown.
    void MimeTypeFromExt(std::string_view Value);
    /// Header text for Value (UTF-8): encoded words from TargetCharset into
    /// CharsetCode when Value needs them, else Value unchanged.
    [[nodiscard]] std::string InlineCode(std::string_view Value) const;

    // --- decoding ---------------------------------------------------------

    /// Parses Lines into Headers, the fields, PartBody, PrePart, PostPart and
    /// sub-parts. Malformed input gives a best-effort tree, never an error.
    /// A delivery status (message/delivery-status, message/global-delivery-status)
    /// becomes one sub-part per field group: the per-message group first, then one
    /// per recipient, each with its fields as Headers and an empty body (ask them
    /// with FindHeader: "Final-Recipient", "Action", "Status", "Diagnostic-Code").
    void DecomposeParts();
    /// Like DecomposeParts, from header lines and the body bytes [AStx, AEtx);
    /// each body is kept as one entry with its line breaks.
    void DecomposePartsBinary(const std::vector<std::string>& AHeader, const char* AStx, const char* AEtx);
    /// Sets the fields from Headers (type, charset, encoding, description,
    /// disposition, file name, content ID, boundary). A Content-Type or
    /// Content-Disposition that breaks its grammar counts as absent; a file name
    /// keeps only its last path component ("/" and "\" both separate).
    void DecodePartHeader();
    /// The value (trimmed) of the first header line named Name, ignoring case;
    /// empty when there is none.
    [[nodiscard]] std::string FindHeader(std::string_view Name) const;
    /// Reverses the transfer encoding of PartBody into DecodedLines and, for text
    /// parts with ConvertCharset, converts from CharsetCode to TargetCharset.
    void DecodePart();
    /// Whether Value is the first line of UU-encoded data ("begin " + something).
    [[nodiscard]] static bool IsUUcode(std::string_view Value);

    // --- properties -------------------------------------------------------

    /// Primary media type as set ("text", "Multipart", "application", ...).
    const std::string& Primary() const { return FPrimary; }
    /// Stores Value and classifies it: TEXT..., MULTIPART..., MESSAGE..., else binary.
    void SetPrimary(std::string_view Value);
    /// Class of the primary type; decides encoding and composing.
    TMimePrimary PrimaryCode() const { return FPrimaryCode; }
    void SetPrimaryCode(TMimePrimary Value) { FPrimaryCode = Value; }
    /// Media subtype; EncodePartHeader fills an empty one from PrimaryCode.
    const std::string& Secondary() const { return FSecondary; }
    void SetSecondary(std::string_view Value) { FSecondary = Value; }
    /// Transfer-encoding name as set.
    const std::string& Encoding() const { return FEncoding; }
    /// Stores Value and classifies it: 8BIT, QUOTED-PRINTABLE, BASE64, X-UU,
    /// X-XX by prefix, anything else 7bit.
    void SetEncoding(std::string_view Value);
    /// Transfer encoding actually applied.
    TMimeEncoding EncodingCode() const { return FEncodingCode; }
    void SetEncodingCode(TMimeEncoding Value) { FEncodingCode = Value; }
    /// Charset name assumed when a parsed part names none.
    const std::string& DefaultCharset() const { return FDefaultCharset; }
    void SetDefaultCharset(std::string_view Value) { FDefaultCharset = Value; }
    /// Charset name as set.
    const std::string& Charset() const { return FCharset; }
    /// Stores Value and sets CharsetCode from it; an empty Value changes nothing.
    void SetCharset(std::string_view Value);
    /// Charset the part is sent in (and named in its Content-type).
    TMimeChar CharsetCode() const { return FCharsetCode; }
    void SetCharsetCode(TMimeChar Value) { FCharsetCode = Value; }
    /// Charset of DecodedLines: conversion source when encoding, destination when decoding.
    TMimeChar TargetCharset() const { return FTargetCharset; }
    void SetTargetCharset(TMimeChar Value) { FTargetCharset = Value; }
    /// Content-Description text (UTF-8).
    const std::string& Description() const { return FDescription; }
    void SetDescription(std::string_view Value) { FDescription = Value; }
    /// "inline", "attachment" or empty (written in lower case).
    const std::string& Disposition() const { return FDisposition; }
    void SetDisposition(std::string_view Value) { FDisposition = Value; }
    /// Content-ID value, written as given (the caller adds any angle brackets).
    const std::string& ContentID() const { return FContentID; }
    void SetContentID(std::string_view Value) { FContentID = Value; }
    /// Multipart boundary, without the leading "--".
    const std::string& Boundary() const { return FBoundary; }
    void SetBoundary(std::string_view Value) { FBoundary = Value; }
    /// File name of the "name" and "FileName" parameters (UTF-8).
    const std::string& FileName() const { return FFileName; }
    void SetFileName(std::string_view Value) { FFileName = Value; }

    /// The composed entity (bytes): output of ComposeParts, input of DecomposeParts.
    std::vector<std::string>& Lines() { return FLines; }
    const std::vector<std::string>& Lines() const { return FLines; }
    /// Body lines after transfer encoding (bytes): a copy, cut from the body's
    /// bytes on each call.
    [[nodiscard]] std::vector<std::string> PartBody() const { return FBody.Lines(); }
    /// Replaces the body lines (bytes, copied).
    void SetPartBody(const std::vector<std::string>& Value);
    /// The part's header lines.
    std::vector<std::string>& Headers() { return FHeaders; }
    const std::vector<std::string>& Headers() const { return FHeaders; }
    /// Preamble lines of a multipart.
    std::vector<std::string>& PrePart() { return FPrePart; }
    const std::vector<std::string>& PrePart() const { return FPrePart; }
    /// Epilogue lines of a multipart.
    std::vector<std::string>& PostPart() { return FPostPart; }
    const std::vector<std::string>& PostPart() const { return FPostPart; }
    /// The raw content bytes: input of EncodePart, output of DecodePart.
    std::string& DecodedLines() { return FDecodedLines; }
    const std::string& DecodedLines() const { return FDecodedLines; }

    /// Callback of WalkPart; unset means WalkPart does nothing.
    const THookWalkPart& OnWalkPart() const { return FOnWalkPart; }
    void SetOnWalkPart(THookWalkPart Value) { FOnWalkPart = std::move(Value); }
    /// Limit for folding header lines and splitting quoted-printable lines (78);
    /// values below 1 act as 1.
    int MaxLineLength() const { return FMaxLineLength; }
    void SetMaxLineLength(int Value) { FMaxLineLength = Value; }
    /// Depth in the tree: 0 for a part made on its own.
    int SubLevel() const { return FSubLevel; }
    void SetSubLevel(int Value) { FSubLevel = Value; }
    /// Deepest level at which parsing still makes sub-parts; -1 for no limit
    /// (parsing stops splitting at depth 64 whatever this says).
    int MaxSubLevel() const { return FMaxSubLevel; }
    void SetMaxSubLevel(int Value) { FMaxSubLevel = Value; }
    /// Set by DecomposePartsBinary when the part holds UU-encoded data.
    bool AttachInside() const { return FAttachInside; }
    /// Whether text content is converted between TargetCharset and CharsetCode.
    bool ConvertCharset() const { return FConvertCharset; }
    void SetConvertCharset(bool Value) { FConvertCharset = Value; }
    /// Whether decoding converts HTML that declares its own charset too.
    bool ForcedHTMLConvert() const { return FForcedHTMLConvert; }
    void SetForcedHTMLConvert(bool Value) { FForcedHTMLConvert = Value; }

private:
    void ResetFields();
    [[nodiscard]] int LineLimit() const;
    void EncodeQuotedPrintableLine(std::string_view Line, bool SoftEnd);
    void FoldHeaderLine(const std::string& Line, TMessageBytes& Out) const;
    void ReadHeaderBlock(const std::vector<std::string>& Source, std::size_t& Index);
    void DecomposeSection(bool InDigest);
    void DecomposeBinarySection(const std::vector<std::string>& AHeader, std::string_view Body,
                                bool InDigest);
    void DecodeSectionHeader(bool InDigest);
    [[nodiscard]] bool IsDigest() const;
    [[nodiscard]] bool MaySplit() const;
    [[nodiscard]] bool IsDeliveryStatus() const;
    // The body from FLines[Index] to the end.
    void AppendBodyFrom(std::size_t Index);
    void DecomposeMultipart(std::size_t Index);
    void DecomposeMessage(std::size_t Index);
    void DecomposeFieldGroups(std::size_t Index);
    void DecomposeMultipartBinary(std::string_view Body);
    void DecomposeMessageBinary(std::string_view Body);
    void DecomposeFieldGroupsBinary(std::string_view Body);
    std::string DecodeContentType(std::string_view Value);
    std::string DecodeContentDisposition(std::string_view Value);
    [[nodiscard]] std::string JoinedBody() const;
    [[nodiscard]] bool KeepsOwnCharset() const;

    std::string FDecodedLines;
    std::vector<std::unique_ptr<TMimePart>> FSubParts;
    THookWalkPart FOnWalkPart;
    int FSubLevel = 0;
    int FMaxSubLevel = -1;
    bool FForcedHTMLConvert = false;
};

/// A new multipart boundary: the tick as 8 upper-case hex digits, "_", a random
/// value as 8 hex digits, "_Tandrel_boundary". When the last boundary took the
/// current tick it waits for the tick to change, so two calls in a row never
/// share the first field.
std::string GenerateBoundary();

/// Where GenerateBoundary takes its text from while an instance lives; lets
/// tests compose mail that can be compared byte for byte. Not thread-safe;
/// instances must not overlap.
class TBoundarySourceOverride {
public:
    explicit TBoundarySourceOverride(std::function<std::string()> Source);
    ~TBoundarySourceOverride();
    TBoundarySourceOverride(const TBoundarySourceOverride&) = delete;
    TBoundarySourceOverride& operator=(const TBoundarySourceOverride&) = delete;
};

}  // namespace tandrel::mime
