// The part as a tree: its state, its setters and the multipart boundaries. Composing
// is in MimePartCompose.cpp, parsing in MimePartParse.cpp.
#include "mime/MimePart.h"

#include "support/AsciiText.h"
#include "support/Tick.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

namespace tandrel::mime {

namespace {

// The tick of the last boundary made; beyond 32 bits until there is one.
std::atomic<std::uint64_t> LastBoundaryTick{std::uint64_t{1} << 32};

std::function<std::string()>& BoundarySource() {
    static std::function<std::string()> source;
    return source;
}

}  // namespace

TMimePart::TMimePart() {
    ResetFields();
    FDefaultCharset = GetIDFromCP(FTargetCharset);
}

TMimePart::~TMimePart() = default;

void TMimePart::ResetFields() {
    FPrimary.clear();
    FEncoding.clear();
    FCharset.clear();
    FSecondary.clear();
    FDisposition.clear();
    FContentID.clear();
    FDescription.clear();
    FBoundary.clear();
    FFileName.clear();
    FPrimaryCode = TMimePrimary::MP_TEXT;
    FEncodingCode = TMimeEncoding::ME_7BIT;
    FCharsetCode = TMimeChar::ISO_8859_1;
    FTargetCharset = GetCurCP();
    FAttachInside = false;
    FConvertCharset = true;
    FForcedHTMLConvert = false;
}

void TMimePart::Clear() {
    ResetFields();
    FBody.Clear();
    FHeaders.clear();
    FPrePart.clear();
    FPostPart.clear();
    FDecodedLines.clear();
    ClearSubParts();
}

void TMimePart::Assign(const TMimePart& Value) {
    if (&Value == this) return;
    static_cast<detail::TMimePartAssigned&>(*this) = Value;
}

void TMimePart::AssignSubParts(const TMimePart& Value) {
    if (&Value == this) return;
    Assign(Value);
    for (const auto& sub : Value.FSubParts) AddSubPart().AssignSubParts(*sub);
}

TMimePart& TMimePart::AddSubPart() {
    auto part = std::make_unique<TMimePart>();
    part->FDefaultCharset = FDefaultCharset;
    part->FSubLevel = FSubLevel + 1;
    part->FMaxSubLevel = FMaxSubLevel;
    FSubParts.push_back(std::move(part));
    return *FSubParts.back();
}

int TMimePart::GetSubPartCount() const { return static_cast<int>(FSubParts.size()); }

TMimePart* TMimePart::GetSubPart(int Index) {
    if (Index < 0 || Index >= GetSubPartCount()) return nullptr;
    return FSubParts[static_cast<std::size_t>(Index)].get();
}

const TMimePart* TMimePart::GetSubPart(int Index) const {
    if (Index < 0 || Index >= GetSubPartCount()) return nullptr;
    return FSubParts[static_cast<std::size_t>(Index)].get();
}

void TMimePart::DeleteSubPart(int Index) {
    if (Index < 0 || Index >= GetSubPartCount()) return;
    FSubParts.erase(FSubParts.begin() + Index);
}

void TMimePart::ClearSubParts() { FSubParts.clear(); }

bool TMimePart::CanSubPart() const { return FMaxSubLevel == -1 || FSubLevel < FMaxSubLevel; }

void TMimePart::WalkPart() {
    if (!FOnWalkPart) return;
    FOnWalkPart(*this);
    for (auto& sub : FSubParts) {
        sub->FOnWalkPart = FOnWalkPart;
        sub->WalkPart();
    }
}

// ---------------------------------------------------------------------------
// Setters

void TMimePart::SetPrimary(std::string_view Value) {
    FPrimary = Value;
    const std::string s = support::UpperAscii(Value);
    if (s.starts_with("TEXT"))
        FPrimaryCode = TMimePrimary::MP_TEXT;
    else if (s.starts_with("MULTIPART"))
        FPrimaryCode = TMimePrimary::MP_MULTIPART;
    else if (s.starts_with("MESSAGE"))
        FPrimaryCode = TMimePrimary::MP_MESSAGE;
    else
        FPrimaryCode = TMimePrimary::MP_BINARY;
}

void TMimePart::SetEncoding(std::string_view Value) {
    FEncoding = Value;
    const std::string s = support::UpperAscii(Value);
    if (s.starts_with("8BIT"))
        FEncodingCode = TMimeEncoding::ME_8BIT;
    else if (s.starts_with("QUOTED-PRINTABLE"))
        FEncodingCode = TMimeEncoding::ME_QUOTED_PRINTABLE;
    else if (s.starts_with("BASE64"))
        FEncodingCode = TMimeEncoding::ME_BASE64;
    else if (s.starts_with("X-UU"))
        FEncodingCode = TMimeEncoding::ME_UU;
    else if (s.starts_with("X-XX"))
        FEncodingCode = TMimeEncoding::ME_XX;
    else
        FEncodingCode = TMimeEncoding::ME_7BIT;
}

void TMimePart::SetCharset(std::string_view Value) {
    if (Value.empty()) return;
    FCharset = Value;
    FCharsetCode = GetCPFromID(std::string(Value));
}

void TMimePart::SetPartBody(const std::vector<std::string>& Value) {
    FBody.Clear();
    FBody.AppendLines(Value);
}

// ---------------------------------------------------------------------------
// Boundaries

std::string GenerateBoundary() {
    if (const auto& source = BoundarySource()) return source();
    // Two boundaries made one after the other never share a tick: a boundary whose
    // tick the last one took waits until the tick moves on. Only that one waits, so
    // a mail a millisecond or more after the last costs no pause. The tick is the
    // steady clock's milliseconds: the wait ends when the next one begins.
    std::uint32_t tick = support::GetTick();
    std::uint64_t last = LastBoundaryTick.load();
    while (true) {
        if (last == tick) {
            const auto now = std::chrono::steady_clock::now();
            std::this_thread::sleep_until(std::chrono::floor<std::chrono::milliseconds>(now) +
                                          std::chrono::milliseconds(1));
            tick = support::GetTick();
            last = LastBoundaryTick.load();
            continue;
        }
        // Fails, and reads the tick anew, when another thread took one meanwhile.
        if (LastBoundaryTick.compare_exchange_weak(last, tick)) break;
    }
    std::mt19937 random(static_cast<std::mt19937::result_type>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    const auto value = std::uniform_int_distribution<std::uint32_t>(0, 2147483646)(random);
    std::array<char, 40> text{};
    std::snprintf(text.data(), text.size(), "%08X_%08X_Tandrel_boundary", tick, value);
    return std::string(text.data());
}

TBoundarySourceOverride::TBoundarySourceOverride(std::function<std::string()> Source) {
    BoundarySource() = std::move(Source);
}

TBoundarySourceOverride::~TBoundarySourceOverride() { BoundarySource() = nullptr; }

}  // namespace tandrel::mime
