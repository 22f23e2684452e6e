// SPDX-License-Identifier: MIT
#include "ui/batch/folderlisting.h"

#include <QFileSystemModel>

namespace ui {

FolderListing::FolderListing(QFileSystemModel *source, QObject *parent)
    : QSortFilterProxyModel(parent), m_source(source)
{
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    setSourceModel(source);
    sort(0);
}

QModelIndex FolderListing::indexOfPath(const QString &path) const
{
    return mapFromSource(m_source->index(path));
}

QString FolderListing::filePath(const QModelIndex &index) const
{
    return m_source->filePath(mapToSource(index));
}

bool FolderListing::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    return m_source->fileInfo(m_source->index(sourceRow, 0, sourceParent)).isDir();
}

bool FolderListing::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    const QString a = m_source->fileName(left);
    const QString b = m_source->fileName(right);
    // Names equal but for case still need a fixed order.
    const int order = m_collator.compare(a, b);
    return order != 0 ? order < 0 : a < b;
}

} // namespace ui
