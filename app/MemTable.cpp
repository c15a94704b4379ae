#include "app/MemTable.h"

#include "support/SystemCodePage.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace tandrel::app {

namespace {

bool SameNameIgnoringCase(const std::string& a, const std::string& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

bool ParseInteger(const std::string& text, std::int32_t& value)
{
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
}

// Backtracking matcher over bytes; '%' runs are collapsed so patterns stay linear enough.
bool Like(const char* t, const char* tEnd, const char* p, const char* pEnd)
{
    while (p != pEnd) {
        if (*p == '%') {
            while (p != pEnd && *p == '%')
                ++p;
            if (p == pEnd)
                return true;
            for (const char* s = t; s != tEnd; ++s)
                if (Like(s, tEnd, p, pEnd))
                    return true;
            return false;
        }
        if (t == tEnd || (*p != '_' && *p != *t))
            return false;
        ++p;
        ++t;
    }
    return t == tEnd;
}

}  // namespace

bool MatchesLike(const std::string& text, const std::string& pattern)
{
    if (text.empty())
        return pattern == "%";
    return Like(text.data(), text.data() + text.size(), pattern.data(),
                pattern.data() + pattern.size());
}

std::string NameSearchFilter(const std::string& text)
{
    std::string quoted;
    for (const char c : text + "%") {
        quoted += c;
        if (c == '\'')
            quoted += '\'';
    }
    return "Nome like '" + quoted + "'";
}

// --- TField ------------------------------------------------------------------

const std::string& TField::FieldName() const
{
    return FTable->FDefs[FIndex].Name;
}

bool TField::IsNull() const
{
    const auto* record = FTable->FieldRecord();
    return !record || !(*record)[FIndex];
}

std::string TField::AsString() const
{
    const auto* record = FTable->FieldRecord();
    if (!record || !(*record)[FIndex])
        return {};
    return support::TextFromAnsi(*(*record)[FIndex]);
}

void TField::SetAsString(const std::string& text) const
{
    const TFieldDef& def = FTable->FDefs[FIndex];
    auto& slot = FTable->EditRecord()[FIndex];
    if (def.DataType == TFieldType::ftInteger) {
        std::int32_t value = 0;
        if (text.empty())
            slot.reset();
        else if (ParseInteger(text, value))
            slot = std::to_string(value);
        else
            FTable->Raise("'" + text + "' is not a valid integer value for field '" + def.Name + "'");
        return;
    }
    std::string bytes = support::AnsiFromText(text);
    if (bytes.size() > static_cast<std::size_t>(def.Size))
        bytes.resize(def.Size);
    slot = std::move(bytes);
}

std::int32_t TField::AsInteger() const
{
    const auto* record = FTable->FieldRecord();
    if (!record || !(*record)[FIndex])
        return 0;
    std::int32_t value = 0;
    if (!ParseInteger(*(*record)[FIndex], value))
        FTable->Raise("'" + AsString() + "' is not a valid integer value for field '"
                      + FieldName() + "'");
    return value;
}

void TField::SetAsInteger(std::int32_t value) const
{
    SetAsString(std::to_string(value));
}

// --- TMemTable ---------------------------------------------------------------

TMemTable::TMemTable(std::string name, std::vector<TFieldDef> defs)
    : FName(std::move(name)), FDefs(std::move(defs))
{
}

void TMemTable::Raise(const std::string& message) const
{
    throw std::runtime_error(FName + ": " + message);
}

void TMemTable::CheckActive() const
{
    if (!Active())
        Raise("Cannot perform this operation on a closed dataset");
}

void TMemTable::Open()
{
    if (Active())
        return;
    FState = TDataSetState::dsBrowse;
    FRecords.clear();
    FCurrent.reset();
    Rebuild();
    Changed();
}

void TMemTable::Close()
{
    FState = TDataSetState::dsInactive;
    FRecords.clear();
    FView.clear();
    FCurrent.reset();
    FBuffer.clear();
    Changed();
}

int TMemTable::RecNo() const
{
    if (!FCurrent)
        return -1;
    const auto it = std::find(FView.begin(), FView.end(), *FCurrent);
    return it == FView.end() ? -1 : static_cast<int>(it - FView.begin());
}

void TMemTable::SetRecNo(int row)
{
    if (row < 0 || row >= RecordCount() || FView[row] == FCurrent)
        return;
    FCurrent = FView[row];
    Changed();
}

TField TMemTable::FieldByName(const std::string& name)
{
    for (int i = 0; i < static_cast<int>(FDefs.size()); ++i)
        if (SameNameIgnoringCase(FDefs[i].Name, name))
            return TField(this, i);
    Raise("Field '" + name + "' not found");
}

std::string TMemTable::DisplayValue(int row, int field) const
{
    const auto& value = FRecords[FView.at(row)].at(field);
    return value ? support::TextFromAnsi(*value) : std::string();
}

bool TMemTable::IsNullAt(int row, int field) const
{
    return !FRecords[FView.at(row)].at(field);
}

const TMemTable::Record* TMemTable::CurrentRecord() const
{
    const int row = RecNo();
    return row < 0 ? nullptr : &FRecords[FView[row]];
}

const TMemTable::Record* TMemTable::FieldRecord() const
{
    if (FState == TDataSetState::dsInsert || FState == TDataSetState::dsEdit)
        return &FBuffer;
    return CurrentRecord();
}

TMemTable::Record& TMemTable::EditRecord()
{
    if (FState != TDataSetState::dsInsert && FState != TDataSetState::dsEdit)
        Raise("Dataset not in edit or insert mode");
    return FBuffer;
}

void TMemTable::Insert()
{
    CheckActive();
    FBuffer.assign(FDefs.size(), std::nullopt);
    FState = TDataSetState::dsInsert;
}

void TMemTable::Edit()
{
    CheckActive();
    const Record* current = CurrentRecord();
    if (!current) {
        Insert();
        return;
    }
    FBuffer = *current;
    FState = TDataSetState::dsEdit;
}

void TMemTable::Post()
{
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

void TMemTable::Cancel()
{
    if (FState == TDataSetState::dsInsert || FState == TDataSetState::dsEdit)
        FState = TDataSetState::dsBrowse;
    FBuffer.clear();
}

void TMemTable::Delete()
{
    CheckActive();
    const int row = RecNo();
    if (row < 0)
        Raise("Cannot perform this operation on an empty dataset");
    const std::size_t removed = FView[row];
    FRecords.erase(FRecords.begin() + static_cast<std::ptrdiff_t>(removed));
    FCurrent.reset();
    Rebuild();
    if (!FView.empty())
        FCurrent = FView[std::min<std::size_t>(row, FView.size() - 1)];
    Changed();
}

void TMemTable::Refresh()
{
    CheckActive();
    Rebuild();
    Changed();
}

void TMemTable::SetFilter(const std::string& value)
{
    int field = -1;
    std::string pattern;
    if (!value.empty()) {
        // <field> like '<pattern>'; the word "like" in any case, quotes inside doubled.
        const auto space = value.find(' ');
        const std::string keyword = " like '";
        if (space == std::string::npos || value.size() < space + keyword.size() + 1
            || !SameNameIgnoringCase(value.substr(space, keyword.size()), keyword)
            || value.back() != '\'')
            Raise("Invalid filter expression: " + value);
        field = FieldByName(value.substr(0, space)).FIndex;
        const std::string quoted =
            value.substr(space + keyword.size(), value.size() - space - keyword.size() - 1);
        for (std::size_t i = 0; i < quoted.size(); ++i) {
            if (quoted[i] == '\'') {
                if (i + 1 >= quoted.size() || quoted[i + 1] != '\'')
                    Raise("Invalid filter expression: " + value);
                ++i;
            }
            pattern += quoted[i];
        }
    }
    FFilter = value;
    FFilterField = field;
    FFilterPattern = support::AnsiFromText(pattern);
    if (FFiltered && Active()) {
        Rebuild();
        Changed();
    }
}

void TMemTable::SetFiltered(bool value)
{
    if (FFiltered == value)
        return;
    FFiltered = value;
    if (Active()) {
        Rebuild();
        Changed();
    }
}

bool TMemTable::Accepts(const Record& record) const
{
    if (!FFiltered || FFilterField < 0)
        return true;
    return MatchesLike(record[FFilterField].value_or(std::string()), FFilterPattern);
}

void TMemTable::Rebuild()
{
    FView.clear();
    for (std::size_t i = 0; i < FRecords.size(); ++i)
        if (Accepts(FRecords[i]))
            FView.push_back(i);
    // A current record the view no longer shows gives way to the view's first one.
    if (!FCurrent || std::find(FView.begin(), FView.end(), *FCurrent) == FView.end())
        FCurrent = FView.empty() ? std::nullopt : std::optional<std::size_t>(FView.front());
}

void TMemTable::Changed()
{
    if (FOnDataChange)
        FOnDataChange();
}

}  // namespace tandrel::app
