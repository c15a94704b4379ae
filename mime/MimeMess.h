#pragma once
// One complete e-mail message: its header, the tree of MIME parts under one
// root part, and the finished message lines.

#include "mime/Charsets.h"
#include "mime/MessHeader.h"
#include "mime/MessageBytes.h"
#include "mime/MimePart.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel::mime {

/// Makes the header a message uses; lets a derived header class take over.
using TMessHeaderClass = std::function<std::unique_ptr<TMessHeader>()>;

/// A message: Header, the root MessagePart and Lines, the composed message
/// (one entry per line, bytes, to be sent each followed by CR LF).
class TMimeMess {
public:
    /// A message with a plain TMessHeader.
    TMimeMess();
    /// A message whose header is made by HeadClass (a null result or an empty
    /// function falls back to TMessHeader).
    explicit TMimeMess(const TMessHeaderClass& HeadClass);
    virtual ~TMimeMess();
    TMimeMess(const TMimeMess&) = delete;
    TMimeMess& operator=(const TMimeMess&) = delete;

    /// A new message whose header comes from HeadClass.
    [[nodiscard]] static std::unique_ptr<TMimeMess> CreateAltHeaders(const TMessHeaderClass& HeadClass);

    /// Clears the part tree, Lines and the header.
    virtual void Clear();
    /// Writes the header block, the root part's content lines (type,
    /// description, disposition, ID, transfer encoding, in that order) and the
    /// composed tree into Lines (and Bytes). Every part must have been encoded
    /// before. The root part's Lines are left empty.
    virtual void EncodeMessage();
    /// Parses Lines into the header and the part tree.
    virtual void DecodeMessage();
    /// Parses header lines and the body bytes [AData, AData + size) into the
    /// header and the part tree; bodies keep their line breaks.
    void DecodeMessageBinary(const std::vector<std::string>& AHeader, std::string_view AData);

    /// With no parent: the root part, cleared (its sub-parts are freed).
    /// With a parent: a new sub-part of it, cleared.
    TMimePart& AddPart(TMimePart* PartParent);
    /// A multipart of subtype MultipartType with a new boundary; header written.
    TMimePart& AddPartMultipart(std::string_view MultipartType, TMimePart* PartParent);
    /// A text/plain part of the lines of Value (UTF-8 text, stored as
    /// system-code-page bytes, each line ended by CR LF), quoted-printable, in
    /// the charset of IdealCharsets that best holds it.
    TMimePart& AddPartText(const std::vector<std::string>& Value, TMimePart* PartParent);
    /// As AddPartText with the given charset and encoding; Raw turns charset
    /// conversion off.
    TMimePart& AddPartTextEx(const std::vector<std::string>& Value, TMimePart* PartParent,
                             TMimeChar PartCharset, bool Raw, TMimeEncoding PartEncoding);
    /// A text/html part of the lines of Value, UTF-8, quoted-printable.
    TMimePart& AddPartHTML(const std::vector<std::string>& Value, TMimePart* PartParent);
    /// AddPartText of a file's lines (its bytes taken as system-code-page text).
    /// Throws std::system_error, adding no part, when the file cannot be read.
    TMimePart& AddPartTextFromFile(const std::string& FileName, TMimePart* PartParent);
    /// AddPartHTML of a file's lines; throws like AddPartTextFromFile.
    TMimePart& AddPartHTMLFromFile(const std::string& FileName, TMimePart* PartParent);
    /// An attachment of the bytes of Stream, typed by FileName's extension,
    /// base64. The bytes go out unchanged whatever their type.
    TMimePart& AddPartBinary(std::string Stream, std::string_view FileName, TMimePart* PartParent);
    /// AddPartBinary of a file's bytes, named without its directory; throws
    /// std::system_error, adding no part, when the file cannot be read.
    TMimePart& AddPartBinaryFromFile(const std::string& FileName, TMimePart* PartParent);
    /// An inline part of the bytes of Stream for an HTML body, with content ID
    /// Cid (written as given), base64.
    TMimePart& AddPartHTMLBinary(std::string Stream, std::string_view FileName, std::string_view Cid,
                                 TMimePart* PartParent);
    /// AddPartHTMLBinary of a file's bytes; throws like AddPartBinaryFromFile.
    TMimePart& AddPartHTMLBinaryFromFile(const std::string& FileName, std::string_view Cid,
                                         TMimePart* PartParent);
    /// A message/rfc822 part holding the message lines Value (bytes), parsed.
    TMimePart& AddPartMess(const std::vector<std::string>& Value, TMimePart* PartParent);
    /// AddPartMess of a file's lines; throws like AddPartTextFromFile.
    TMimePart& AddPartMessFromFile(const std::string& FileName, TMimePart* PartParent);

    /// The root part, owned by the message.
    TMimePart& MessagePart() { return *FMessagePart; }
    const TMimePart& MessagePart() const { return *FMessagePart; }
    /// The lines of the composed message (bytes): a copy, cut from Bytes on each call.
    [[nodiscard]] std::vector<std::string> Lines() const { return FBytes.Lines(); }
    /// Replaces the composed message with Value (bytes), the input of DecodeMessage.
    void SetLines(const std::vector<std::string>& Value);
    /// The composed message: output of EncodeMessage, input of DecodeMessage; its
    /// lines each followed by CR LF, in pieces shared with the parts: what is saved
    /// and sent. A copy costs no body.
    [[nodiscard]] const TMessageBytes& Bytes() const { return FBytes; }
    /// Replaces the composed message with Value.
    void SetBytes(TMessageBytes Value) { FBytes = std::move(Value); }
    /// The message header, made by the header class given at construction.
    TMessHeader& Header() { return *FHeader; }
    const TMessHeader& Header() const { return *FHeader; }

private:
    TMimePart& AddTextBytes(std::string Bytes, TMimePart* PartParent, std::string_view Secondary,
                            std::string_view Description, TMimeChar Charset, bool Convert,
                            TMimeEncoding Encoding);
    TMimePart& AddFileBytes(std::string Stream, std::string_view FileName, TMimePart* PartParent,
                            std::string_view Description, std::string_view Disposition, std::string_view Cid);

    std::unique_ptr<TMimePart> FMessagePart;
    // The composed message, held as bytes only; line lists are cut from it on request.
    TMessageBytes FBytes;
    std::unique_ptr<TMessHeader> FHeader;
};

}  // namespace tandrel::mime
