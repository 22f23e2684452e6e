// SPDX-License-Identifier: MIT
#pragma once

#include <QCollator>
#include <QSortFilterProxyModel>

class QFileSystemModel;

namespace ui {

// What the batch window's folder tree shows of a file system model: its folders (links to them
// included) from the root down, by name, ignoring case, as the user's language sorts them, like
// the file list. The model's own order counts digits as numbers ("file2" before "file10").
class FolderListing : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit FolderListing(QFileSystemModel *source, QObject *parent = nullptr);

    QModelIndex indexOfPath(const QString &path) const;
    QString filePath(const QModelIndex &index) const;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    QFileSystemModel *m_source = nullptr;
    QCollator m_collator;
};

} // namespace ui
