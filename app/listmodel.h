#pragma once

#include "store/addressbook.h"

#include <QAbstractTableModel>

// Shows one list of the store as a table: row i is entry i, one column per field. Every change to
// the list goes through this model so that the views follow it; the model keeps no copy of the data.
class AddressListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    AddressListModel(AddressList &list, QObject *parent = nullptr);

    AddressList &list() const { return list_; }
    Field fieldOfColumn(int column) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void Append(const AddressEntry &entry);
    void Replace(int row, const AddressEntry &entry);
    void Delete(int row);
    void Swap(int i, int j);
    // After the list was filled behind the model's back (loading at start-up).
    void reload();

private:
    AddressList &list_;
};
