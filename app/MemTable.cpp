#include "app/MemTable.h"

#include "support/SystemCodePage.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace tandrel::app {

namespace {

bool SameNameIgnoringCase(const std::string& A, const std::string& B) {
    return std::equal(A.begin(), A.end(), B.begin(), B.end(), [](char X, char Y) {
        const auto lower = [](char C) { return C >= 'A' && C <= 'Z' ? char(C - 'A' + 'a') : C; };
        return lower(X) == lower(Y);
    });
}

bool ParseInteger(const std::string& Text, std::int32_t& Value) {
    const char* end = Text.data() + Text.size();
    const auto result = std::from_chars(Text.data(), end, Value);
    return result.ec == std::errc() && result.ptr == end;
}

// Backtracking matcher over bytes; '%' runs are collapsed so patterns stay linear enough.
bool Like(const char* T, const char* TEnd, const char* P, const char* pEnd) {
    while (P != pEnd) {
        if (*P == '%') {
            while (P != pEnd && *P == '%') ++P;
            if (P == pEnd) return true;
            for (const char* s = T; s != TEnd; ++s)
                if (Like(s, TEnd, P, pEnd)) return true;
            return false;
        }
        if (T == TEnd || (*P != '_' && *P != *T)) return false;
        ++P;
        ++T;
    }
    return T == TEnd;
}

}  // namespace

bool MatchesLike(const std::string& Text, const std::string& Pattern) {
    if (Text.empty()) return Pattern == "%";
    return Like(Text.data(), Text.data() + Text.size(), Pattern.data(), Pattern.data() + Pattern.size());
}

std::string NameSearchFilter(const std::string& Text) {
    std::string quoted;
    for (const char c : Text + "%") {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return "Nome like '" + quoted + "'";
}

// --- TField ------------------------------------------------------------------

const std::string& TField::FieldName() const { return FTable->FDefs[FIndex].Name; }

bool TField::IsNull() const {
    const auto* record = FTable->FieldRecord();
    return !record || !(*record)[FIndex];
}

std::string TField::AsString() const {
    const auto* record = FTable->FieldRecord();
    if (!record || !(*record)[FIndex]) return {};
    return support::TextFromAnsi(*(*record)[FIndex]);
}

void TField::SetAsString(const std::string& Text) const {
    const TFieldDef& def = FTable->FDefs[FIndex];
    auto& slot = FTable->EditRecord()[FIndex];
    if (def.DataType == TFieldType::ftInteger) {
        std::int32_t value = 0;
        if (Text.empty())
            slot.reset();
        else if (ParseInteger(Text, value))
            slot = std::to_string(value);
        else
            FTable->Raise("'" + Text + "' is not a valid integer value for field '" + def.Name + "'");
        return;
    }
    std::string bytes = support::AnsiFromText(Text);
    if (bytes.size() > static_cast<std::size_t>(def.Size)) bytes.resize(def.Size);
    slot = std::move(bytes);
}

std::int32_t TField::AsInteger() const {
    const auto* record = FTable->FieldRecord();
    if (!record || !(*record)[FIndex]) return 0;
    std::int32_t value = 0;
    if (!ParseInteger(*(*record)[FIndex], value))
        FTable->Raise("'" + AsString() + "' is not a valid integer value for field '" + FieldName() + "'");
    return value;
}

void TField::SetAsInteger(std::int32_t Value) const { SetAsString(std::to_string(Value)); }

// --- TMemTable ---------------------------------------------------------------

TMemTable::TMemTable(std::string Name, std::vector<TFieldDef> Defs)
    : FName(std::move(Name)), FDefs(std::move(Defs)) {}

void TMemTable::Raise(const std::string& Message) const { throw std::runtime_error(FName + ": " + Message); }

void TMemTable::CheckActive() const {
    if (!Active()) Raise("Cannot perform this operation on a closed dataset");
}

void TMemTable::Open() {
    if (Active()) return;
    FState = TDataSetState::dsBrowse;
    FRecords.clear();
    FCurrent.reset();
    Rebuild();
    Changed();
}

void TMemTable::Close() {
    FState = TDataSetState::dsInactive;
    FRecords.clear();
    FView.clear();
    FCurrent.reset();
    FBuffer.clear();
    Changed();
}

int TMemTable::RecNo() const {
    if (!FCurrent) return -1;
    const auto it = std::find(FView.begin(), FView.end(), *FCurrent);
    return it == FView.end() ? -1 : static_cast<int>(it - FView.begin());
}

void TMemTable::SetRecNo(int Row) {
    if (Row < 0 || Row >= RecordCount() || FView[Row] == FCurrent) return;
    FCurrent = FView[Row];
    Changed();
}

TField TMemTable::FieldByName(const std::string& Name) {
    for (int i = 0; i < static_cast<int>(FDefs.size()); ++i)
        if (SameNameIgnoringCase(FDefs[i].Name, Name)) return TField(this, i);
    Raise("Field '" + Name + "' not found");
}

std::string TMemTable::DisplayValue(int Row, int Field) const {
    const auto& value = FRecords[FView.at(Row)].at(Field);
    return value ? support::TextFromAnsi(*value) : std::string();
}

bool TMemTable::IsNullAt(int Row, int Field) const { return !FRecords[FView.at(Row)].at(Field); }

const TMemTable::Record* TMemTable::CurrentRecord() const {
    const int row = RecNo();
    return row < 0 ? nullptr : &FRecords[FView[row]];
}

const TMemTable::Record* TMemTable::FieldRecord() const {
    if (FState == TDataSetState::dsInsert || FState == TDataSetState::dsEdit) return &FBuffer;
    return CurrentRecord();
}

TMemTable::Record& TMemTable::EditRecord() {
    if (FState != TDataSetState::dsInsert && FState != TDataSetState::dsEdit)
        Raise("Dataset not in edit or insert mode");
    return FBuffer;
}

void TMemTable::Insert() {
    CheckActive();
    FBuffer.assign(FDefs.size(), std::nullopt);
    FState = TDataSetState::dsInsert;
}

void TMemTable::Edit() {
    CheckActive();
    const Record* current = CurrentRecord();
    if (!current) {
        Insert();
        return;
    }
    FBuffer = *current;
    FState = TDataSetState::dsEdit;
}

void TMemTable::Post() {
    if (FState == TDataSetState::dsInsert) {
        FRecords.push_back(std::move(FBuffer));
        FCurrent = FRecords.size() - 1;
    } else if (FState == TDataSetState::dsEdit && FCurrent) {
        FRecords[*FCurrent] = std::move(FBuffer);
    } else {
        Raise("Dataset not in edit or insert mode");
    }
    FBuffer.clear();
    FState = TDataSetState::dsBrowse;
    Rebuild();
    Changed();
}

void TMemTable::Cancel() {
    if (FState == TDataSetState::dsInsert || FState == TDataSetState::dsEdit)
        FState = TDataSetState::dsBrowse;
    FBuffer.clear();
}

void TMemTable::Delete() {
    CheckActive();
    const int row = RecNo();
    if (row < 0) Raise("Cannot perform this operation on an empty dataset");
    const std::size_t removed = FView[row];
    FRecords.erase(FRecords.begin() + static_cast<std::ptrdiff_t>(removed));
    FCurrent.reset();
    Rebuild();
    if (!FView.empty()) FCurrent = FView[std::min<std::size_t>(row, FView.size() - 1)];
    Changed();
}

void TMemTable::Refresh() {
    CheckActive();
    Rebuild();
    Changed();
}

void TMemTable::SetFilter(const std::string& Value) {
    int field = -1;
    std::string pattern;
    if (!Value.empty()) {
        // <field> like '<pattern>'; the word "like" in any case, quotes inside doubled.
        const auto space = Value.find(' ');
        const std::string keyword = " like '";
        if (space == std::string::npos || Value.size() < space + keyword.size() + 1 ||
            !SameNameIgnoringCase(Value.substr(space, keyword.size()), keyword) || Value.back() != '\'')
            Raise("Invalid filter expression: " + Value);
        field = FieldByName(Value.substr(0, space)).FIndex;
        const std::string quoted =
            Value.substr(space + keyword.size(), Value.size() - space - keyword.size() - 1);
        for (std::size_t i = 0; i < quoted.size(); ++i) {
            if (quoted[i] == '\'') {
                if (i + 1 >= quoted.size() || quoted[i + 1] != '\'')
                    Raise("Invalid filter expression: " + Value);
                ++i;
            }
            pattern += quoted[i];
        }
    }
    FFilter = Value;
    FFilterField = field;
    FFilterPattern = support::AnsiFromText(pattern);
    if (FFiltered && Active()) {
        Rebuild();
        Changed();
    }
}

void TMemTable::SetFiltered(bool Value) {
    if (FFiltered == Value) return;
    FFiltered = Value;
    if (Active()) {
        Rebuild();
        Changed();
    }
}

bool TMemTable::Accepts(const Record& Record) const {
    if (!FFiltered || FFilterField < 0) return true;
    return MatchesLike(Record[FFilterField].value_or(std::string()), FFilterPattern);
}

void TMemTable::Rebuild() {
    FView.clear();
    for (std::size_t i = 0; i < FRecords.size(); ++i)
        if (Accepts(FRecords[i])) FView.push_back(i);
    // A current record the view no longer shows gives way to the view's first one.
    if (!FCurrent || std::find(FView.begin(), FView.end(), *FCurrent) == FView.end())
        FCurrent = FView.empty() ? std::nullopt : std::optional<std::size_t>(FView.front());
}

void TMemTable::Changed() {
    if (FOnDataChange) FOnDataChange();
}

}  // namespace tandrel::app
