#include "mail/MailAttachment.h"

#include <stdexcept>

namespace tandrel::mail {

void TMailAttachment::Clear() {
    FFileName.clear();
    FDescription.clear();
    FStream.clear();
}

void TMailAttachment::Assign(const TMailAttachment& Source) {
    if (&Source == this) return;
    Clear();
    FFileName = Source.FFileName;
    FDescription = Source.FDescription;
    FStream = Source.FStream;
    FDisposition = Source.FDisposition;
}

TMailAttachment& TMailAttachments::New() {
    FItems.push_back(std::make_unique<TMailAttachment>());
    return *FItems.back();
}

std::size_t TMailAttachments::Add(std::unique_ptr<TMailAttachment> Obj) {
    if (!Obj) throw std::invalid_argument("TMailAttachments::Add: null attachment");
    FItems.push_back(std::move(Obj));
    return FItems.size() - 1;
}

void TMailAttachments::CheckIndex(std::size_t Index) const {
    if (Index >= FItems.size())
        throw std::out_of_range("Argument out of range: attachment index " + std::to_string(Index));
}

TMailAttachment& TMailAttachments::Objects(std::size_t Index) {
    CheckIndex(Index);
    return *FItems[Index];
}

const TMailAttachment& TMailAttachments::Objects(std::size_t Index) const {
    CheckIndex(Index);
    return *FItems[Index];
}

void TMailAttachments::SetObjects(std::size_t Index, std::unique_ptr<TMailAttachment> Obj) {
    CheckIndex(Index);
    if (!Obj) throw std::invalid_argument("TMailAttachments::SetObjects: null attachment");
    FItems[Index] = std::move(Obj);
}

void TMailAttachments::Delete(std::size_t Index) {
    CheckIndex(Index);
    FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(Index));
}

}  // namespace tandrel::mail
