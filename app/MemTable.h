#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tandrel::app {

/// Kind of a table field.
enum class TFieldType { ftString, ftInteger };

/// One declared field: text fields hold at most `Size` bytes of Windows-1252.
struct TFieldDef {
    std::string Name;
    TFieldType DataType = TFieldType::ftString;
    int Size = 0;
};

/// State of the table's edit buffer.
enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

class TMemTable;

/// A field of the table's current record (or of the record being inserted or edited).
/// Cheap to copy; valid while the table lives.
class TField {
public:
    /// The field's declared name.
    const std::string& FieldName() const;
    /// True when the field holds no value (also when there is no current record).
    bool IsNull() const;
    /// The value as UTF-8 text ("" when null; an integer in decimal).
    std::string AsString() const;
    /// Stores `Text` (UTF-8): a text field keeps its Windows-1252 bytes cut to the field's
    /// size; an integer field parses it ("" stores null). Fails with std::runtime_error
    /// when the table is not inserting or editing, or the text is no integer.
    void SetAsString(const std::string& Text) const;
    /// The value as an integer (0 when null). Fails when a text field holds no integer.
    std::int32_t AsInteger() const;
    /// Stores `Value` (as its decimal text in a text field). Fails like `SetAsString`.
    void SetAsInteger(std::int32_t Value) const;

private:
    friend class TMemTable;
    TField(TMemTable* Table, int Index) : FTable(Table), FIndex(Index) {}
    TMemTable* FTable;
    int FIndex;
};

/// An in-memory table: declared fields, records in insertion order, an optional filter
/// ("<field> like '<pattern>'") that decides which records the view shows, and a current
/// record. Failures raise std::runtime_error with the table's name, a colon and a blank in
/// front of the message.
class TMemTable {
public:
    /// A closed table named `Name` with the fields `Defs`.
    TMemTable(std::string Name, std::vector<TFieldDef> Defs);

    /// The table's name, used in its error messages.
    const std::string& Name() const { return FName; }
    /// The declared fields, in order.
    const std::vector<TFieldDef>& FieldDefs() const { return FDefs; }
    /// Opens the table empty. Opening an open table does nothing.
    void Open();
    /// Closes the table and discards every record.
    void Close();
    /// True between `Open` and `Close`.
    bool Active() const { return FState != TDataSetState::dsInactive; }
    /// The edit buffer's state.
    TDataSetState State() const { return FState; }

    /// Number of records in the view.
    int RecordCount() const { return static_cast<int>(FView.size()); }
    /// Position of the current record in the view (0-based), -1 when the view is empty.
    int RecNo() const;
    /// Makes the view's record at `Row` current; out-of-range rows are ignored.
    void SetRecNo(int Row);
    /// The field `Name`, found without regard to letter case. Fails with
    /// "<table>: Field '<name>' not found".
    TField FieldByName(const std::string& Name);
    /// The value of field `Field` (declared index) of the view's record at `Row` as UTF-8.
    std::string DisplayValue(int Row, int Field) const;
    /// True when field `Field` of the view's record at `Row` is null.
    bool IsNullAt(int Row, int Field) const;

    /// Starts a new, empty record in the edit buffer.
    void Insert();
    /// Puts the current record into the edit buffer; on an empty view, starts a new record.
    void Edit();
    /// Stores the edit buffer: a new record is appended and becomes current; an edited one
    /// replaces its record. Fails when the table is neither inserting nor editing.
    void Post();
    /// Drops the edit buffer.
    void Cancel();
    /// Removes the current record; the next record of the view (the previous one at the
    /// end) becomes current. Fails with "Cannot perform this operation on an empty dataset".
    void Delete();
    /// Rebuilds the view; the records and the current record stay.
    void Refresh();

    /// The filter expression: "" or "<field> like '<pattern>'" (quotes inside doubled).
    const std::string& Filter() const { return FFilter; }
    /// Sets the filter expression; fails on a malformed one. Applies at once when filtered.
    void SetFilter(const std::string& Value);
    /// True when the filter decides the view.
    bool Filtered() const { return FFiltered; }
    /// Switches the filter on or off.
    void SetFiltered(bool Value);

    /// Runs after every change of the records, the view or the current record.
    const std::function<void()>& OnDataChange() const { return FOnDataChange; }
    void SetOnDataChange(std::function<void()> Value) { FOnDataChange = std::move(Value); }

private:
    friend class TField;
    using Record = std::vector<std::optional<std::string>>;  // Windows-1252 bytes

    [[noreturn]] void Raise(const std::string& Message) const;
    void CheckActive() const;
    const Record* CurrentRecord() const;
    const Record* FieldRecord() const;
    Record& EditRecord();
    bool Accepts(const Record& Record) const;
    void Rebuild();
    void Changed();

    std::string FName;
    std::vector<TFieldDef> FDefs;
    std::vector<Record> FRecords;
    std::vector<std::size_t> FView;       // indexes into FRecords, in record order
    std::optional<std::size_t> FCurrent;  // index into FRecords
    TDataSetState FState = TDataSetState::dsInactive;
    Record FBuffer;
    std::string FFilter;
    int FFilterField = -1;
    std::string FFilterPattern;  // Windows-1252 bytes
    bool FFiltered = false;
    std::function<void()> FOnDataChange;
};

/// True when `Text` matches the "like" `Pattern` as a whole (both Windows-1252 bytes):
/// "%" matches any run of characters, "_" exactly one; letters compare with their case.
/// An empty text matches only the pattern "%".
bool MatchesLike(const std::string& Text, const std::string& Pattern);

/// "Nome like '<text>%'" with every single quote of `Text` doubled: the name search filter.
std::string NameSearchFilter(const std::string& Text);

}  // namespace tandrel::app
