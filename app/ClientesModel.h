#pragma once

#include <QAbstractTableModel>

namespace tandrel::app {

class TMemTable;

/// The grid's view of the customer table: one row per record of the table's view, six
/// columns (CODIGO, NOME CLIENTE, Nº IDENTIDADE, Nº CPF, Nº TELEFONE, CEP), read-only.
class TClientesModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    /// A model over `table`, which must outlive it and have the customer fields.
    explicit TClientesModel(TMemTable& table, QObject* parent = nullptr);

    /// Width in pixels of column `column` as the grid shows it.
    static int ColumnWidth(int column);
    /// Number of columns shown.
    static constexpr int kColumns = 6;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    /// Re-reads the table (after any change of its records or view).
    void Reload();

private:
    TMemTable& FTable;
    int FFieldIndex[kColumns];
};

}  // namespace tandrel::app
