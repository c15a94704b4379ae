#pragma once

#include <QAbstractTableModel>

namespace tandrel::app {

class TMemTable;

/// The grid's view of the customer table: one row per record of the table's view, six
/// columns (CODIGO, NOME CLIENTE, Nº IDENTIDADE, Nº CPF, Nº TELEFONE, CEP), read-only.
class TClientesModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    /// A model over `Table`, which must outlive it and have the customer fields.
    explicit TClientesModel(TMemTable& Table, QObject* Parent = nullptr);

    /// Width in pixels of column `Column` as the grid shows it.
    static int ColumnWidth(int Column);
    /// Number of columns shown.
    static constexpr int kColumns = 6;

    int rowCount(const QModelIndex& Parent = {}) const override;
    int columnCount(const QModelIndex& Parent = {}) const override;
    QVariant data(const QModelIndex& Index, int Role) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;

    /// Re-reads the table (after any change of its records or view).
    void Reload();

private:
    TMemTable& FTable;
    int FFieldIndex[kColumns];
};

}  // namespace tandrel::app
