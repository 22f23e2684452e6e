#pragma once

#include <QCollator>
#include <QSortFilterProxyModel>

class QFileSystemModel;

namespace ui {

// What the batch window shows of a file system model whose root path is the open folder:
// - its regular files, or the folders from the root down to it and those below it (links to
//   either included; no pipes, devices or links to them), so the open folder stays near the top
//   of the tree as a directory list shows it;
// - by name, ignoring case, as the user's language sorts them: the order the batch runner has
//   always listed and played. The model's own order counts digits as numbers ("file2" before
//   "file10"), and a model of files alone still shows the folders on the way to one it showed
//   before.
class FolderListing : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    enum class Entries { Files, Folders };

    FolderListing(QFileSystemModel *source, Entries entries, QObject *parent = nullptr);

    QModelIndex indexOfPath(const QString &path) const;
    QString filePath(const QModelIndex &index) const;
    QString fileName(const QModelIndex &index) const;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    QFileSystemModel *m_source = nullptr;
    Entries m_entries = Entries::Files;
    QCollator m_collator;
};

} // namespace ui
