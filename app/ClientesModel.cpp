#include "app/ClientesModel.h"

#include "app/MemTable.h"

#include <QFont>

namespace tandrel::app {

namespace {

struct Column {
    const char* Field;
    const char* Title;
    int Width;
    Qt::Alignment TitleAlignment;
    Qt::Alignment ValueAlignment;
};

constexpr Qt::Alignment kLeft = Qt::AlignLeft | Qt::AlignVCenter;
constexpr Qt::Alignment kCentre = Qt::AlignCenter;

const Column kColumnsShown[TClientesModel::kColumns] = {
    {"id_cliente", "CODIGO", 62, kCentre, kCentre},       {"Nome", "NOME CLIENTE", 282, kLeft, kLeft},
    {"Identidade", "Nº IDENTIDADE", 109, kCentre, kLeft}, {"cpf", "Nº CPF", 139, kCentre, kLeft},
    {"telefone", "Nº TELEFONE", 119, kCentre, kLeft},     {"cep", "CEP", 80, kCentre, kLeft},
};

int FieldIndex(const TMemTable& Table, const char* Name) {
    const auto& defs = Table.FieldDefs();
    for (int i = 0; i < static_cast<int>(defs.size()); ++i)
        if (defs[i].Name == Name) return i;
    return -1;
}

}  // namespace

TClientesModel::TClientesModel(TMemTable& Table, QObject* Parent)
    : QAbstractTableModel(Parent), FTable(Table) {
    for (int c = 0; c < kColumns; ++c) FFieldIndex[c] = FieldIndex(Table, kColumnsShown[c].Field);
}

int TClientesModel::ColumnWidth(int Column) { return kColumnsShown[Column].Width; }

int TClientesModel::rowCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : FTable.RecordCount();
}

int TClientesModel::columnCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : kColumns; }

QVariant TClientesModel::data(const QModelIndex& Index, int Role) const {
    if (!Index.isValid() || Index.row() >= FTable.RecordCount() || FFieldIndex[Index.column()] < 0) return {};
    const int field = FFieldIndex[Index.column()];
    if (Role == Qt::TextAlignmentRole)
        return QVariant::fromValue(kColumnsShown[Index.column()].ValueAlignment);
    if (Role != Qt::DisplayRole) return {};
    const QString value = QString::fromStdString(FTable.DisplayValue(Index.row(), field));
    if (Index.column() == 0 && !value.isEmpty())
        return QStringLiteral("%1").arg(value.toInt(), 4, 10, QLatin1Char('0'));
    return value;
}

QVariant TClientesModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
    if (Orientation != Qt::Horizontal || Section < 0 || Section >= kColumns) return {};
    if (Role == Qt::DisplayRole) return QString::fromUtf8(kColumnsShown[Section].Title);
    if (Role == Qt::TextAlignmentRole) return QVariant::fromValue(kColumnsShown[Section].TitleAlignment);
    return {};
}

void TClientesModel::Reload() {
    beginResetModel();
    endResetModel();
}

}  // namespace tandrel::app
