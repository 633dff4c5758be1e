#include "app/listmodel.h"

#include "store/cp932.h"

#include <QStringList>

namespace {
const char *const list1Captions[] = {"No.", "ハンドル", "メルアド", "ホーム", "ICQ", "ポスペ", "メモ"};
}

AddressListModel::AddressListModel(AddressList &list, QObject *parent)
    : QAbstractTableModel(parent), list_(list)
{
}

Field AddressListModel::fieldOfColumn(int column) const
{
    // List 2 has no number column: its first column is the handle.
    return list_.fieldOfLine(column);
}

int AddressListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : list_.Count();
}

int AddressListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : list_.fieldsPerRecord();
}

QVariant AddressListModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= list_.Count())
        return {};
    return cp932::decode(list_.fieldOf(index.row(), fieldOfColumn(index.column())));
}

QVariant AddressListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= columnCount())
        return {};
    return QString::fromUtf8(list1Captions[int(fieldOfColumn(section))]);
}

void AddressListModel::Append(const AddressEntry &entry)
{
    list_.checkStorable(entry); // a refused entry must not leave an announced row behind
    const int row = list_.Count();
    beginInsertRows(QModelIndex(), row, row);
    list_.Append(entry);
    endInsertRows();
}

void AddressListModel::Replace(int row, const AddressEntry &entry)
{
    list_.Replace(row, entry);
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void AddressListModel::Delete(int row)
{
    beginRemoveRows(QModelIndex(), row, row);
    list_.Delete(row);
    endRemoveRows();
}

void AddressListModel::Swap(int i, int j)
{
    list_.Swap(i, j);
    emit dataChanged(index(qMin(i, j), 0), index(qMax(i, j), columnCount() - 1));
}

void AddressListModel::reload()
{
    beginResetModel();
    endResetModel();
}
