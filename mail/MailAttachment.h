#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace tandrel::mail {

/// How an attachment is offered to the reader.
enum class TMailAttachmentDisposition { adAttachment, adInline };

/// One attachment: a name, a description and the bytes it owns.
class TMailAttachment {
public:
    /// An empty attachment with the disposition `adInline`.
    TMailAttachment() = default;

    /// Text: the path as given for a file, the description for a stream.
    const std::string& FileName() const { return FFileName; }
    void SetFileName(std::string Value) { FFileName = std::move(Value); }
    /// Text: becomes the part's description (and content id when an HTML body refers to it).
    const std::string& Description() const { return FDescription; }
    void SetDescription(std::string Value) { FDescription = std::move(Value); }
    TMailAttachmentDisposition Disposition() const { return FDisposition; }
    void SetDisposition(TMailAttachmentDisposition Value) { FDisposition = Value; }
    /// Bytes: the attachment's content, owned by the record.
    const std::string& Stream() const { return FStream; }
    std::string& Stream() { return FStream; }

    /// Empties file name, description and content; keeps the disposition.
    void Clear();
    /// Copies name, description, the whole content and the disposition of `Source`.
    void Assign(const TMailAttachment& Source);

private:
    std::string FFileName;
    std::string FDescription;
    std::string FStream;
    TMailAttachmentDisposition FDisposition = TMailAttachmentDisposition::adInline;
};

/// The attachment list; it owns its records.
class TMailAttachments {
public:
    /// Appends a new empty record and returns it; it lives as long as it stays in the list.
    TMailAttachment& New();
    /// Appends `Obj` (a null one is refused with std::invalid_argument) and returns its index.
    std::size_t Add(std::unique_ptr<TMailAttachment> Obj);
    /// The record at `Index`; std::out_of_range outside 0 to Count()-1.
    TMailAttachment& Objects(std::size_t Index);
    const TMailAttachment& Objects(std::size_t Index) const;
    /// Replaces (and frees) the record at `Index`; std::out_of_range outside the list,
    /// std::invalid_argument for a null record.
    void SetObjects(std::size_t Index, std::unique_ptr<TMailAttachment> Obj);
    /// Frees the record at `Index`; std::out_of_range outside the list.
    void Delete(std::size_t Index);
    std::size_t Count() const { return FItems.size(); }
    /// Frees every record.
    void Clear() { FItems.clear(); }

private:
    void CheckIndex(std::size_t Index) const;

    std::vector<std::unique_ptr<TMailAttachment>> FItems;
};

}  // namespace tandrel::mail
