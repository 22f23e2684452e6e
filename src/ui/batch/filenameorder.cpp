#include "ui/batch/filenameorder.h"

#include <QFileSystemModel>

namespace ui {

FileNameOrder::FileNameOrder(QFileSystemModel *source, QObject *parent)
    : QSortFilterProxyModel(parent), m_source(source)
{
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    setSourceModel(source);
    sort(0);
}

QModelIndex FileNameOrder::indexOfPath(const QString &path) const
{
    return mapFromSource(m_source->index(path));
}

QString FileNameOrder::filePath(const QModelIndex &index) const
{
    return m_source->filePath(mapToSource(index));
}

QString FileNameOrder::fileName(const QModelIndex &index) const
{
    return m_source->fileName(mapToSource(index));
}

bool FileNameOrder::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    const QString a = m_source->fileName(left);
    const QString b = m_source->fileName(right);
    // Names equal but for case still need a fixed order.
    const int order = m_collator.compare(a, b);
    return order != 0 ? order < 0 : a < b;
}

} // namespace ui
