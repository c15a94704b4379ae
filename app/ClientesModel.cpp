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
    {"id_cliente", "CODIGO", 62, kCentre, kCentre},
    {"Nome", "NOME CLIENTE", 282, kLeft, kLeft},
    {"Identidade", "Nº IDENTIDADE", 109, kCentre, kLeft},
    {"cpf", "Nº CPF", 139, kCentre, kLeft},
    {"telefone", "Nº TELEFONE", 119, kCentre, kLeft},
    {"cep", "CEP", 80, kCentre, kLeft},
};

int FieldIndex(const TMemTable& table, const char* name)
{
    const auto& defs = table.FieldDefs();
    for (int i = 0; i < static_cast<int>(defs.size()); ++i)
        if (defs[i].Name == name)
            return i;
    return -1;
}

}  // namespace

TClientesModel::TClientesModel(TMemTable& table, QObject* parent)
    : QAbstractTableModel(parent), FTable(table)
{
    for (int c = 0; c < kColumns; ++c)
        FFieldIndex[c] = FieldIndex(table, kColumnsShown[c].Field);
}

int TClientesModel::ColumnWidth(int column)
{
    return kColumnsShown[column].Width;
}

int TClientesModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : FTable.RecordCount();
}

int TClientesModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumns;
}

QVariant TClientesModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= FTable.RecordCount() || FFieldIndex[index.column()] < 0)
        return {};
    const int field = FFieldIndex[index.column()];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(kColumnsShown[index.column()].ValueAlignment);
    if (role != Qt::DisplayRole)
        return {};
    const QString value = QString::fromStdString(FTable.DisplayValue(index.row(), field));
    if (index.column() == 0 && !value.isEmpty())
        return QStringLiteral("%1").arg(value.toInt(), 4, 10, QLatin1Char('0'));
    return value;
}

QVariant TClientesModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromUtf8(kColumnsShown[section].Title);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(kColumnsShown[section].TitleAlignment);
    return {};
}

void TClientesModel::Reload()
{
    beginResetModel();
    endResetModel();
}

}  // namespace tandrel::app
