#pragma once

#include <QCollator>
#include <QSortFilterProxyModel>

class QFileSystemModel;

namespace ui {

// A file system model's entries by name, ignoring case, as the user's language sorts them: the
// order the batch runner has always listed and played. The file system model's own order counts
// digits as numbers ("file2" before "file10"), which would change the order of a run.
class FileNameOrder : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit FileNameOrder(QFileSystemModel *source, QObject *parent = nullptr);

    QModelIndex indexOfPath(const QString &path) const;
    QString filePath(const QModelIndex &index) const;
    QString fileName(const QModelIndex &index) const;

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    QFileSystemModel *m_source = nullptr;
    QCollator m_collator;
};

} // namespace ui
