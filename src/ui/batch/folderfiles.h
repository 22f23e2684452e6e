// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractListModel>
#include <QFileSystemWatcher>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>

namespace ui {

// The regular files of one folder (links to them included; no pipes, devices or links to them),
// their names kept byte for byte (device/filenames), so that a name that is not valid UTF-8 is
// listed and opens the very file; by name ignoring case as the user's language sorts them, digits
// as characters: the order the batch runner has always listed and played. The folder is read and
// sorted on a thread of its own, so a folder of 100,000 files never holds the window up, and it is
// read again whenever it changes; the rows then change one range at a time, so a selection keeps
// the files that stay.
class FolderFiles : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit FolderFiles(QObject *parent = nullptr);
    ~FolderFiles() override;

    // Another folder empties the list at once; the same one is read again, keeping its rows.
    void setFolder(const QString &path);
    QString folder() const { return m_folder; }
    // The name as the program holds it, for opening; the list shows it with each byte that is
    // not UTF-8 as U+FFFD.
    QString fileName(int row) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

signals:
    // The list holds what the folder held when it was last read.
    void listed();

private:
    void startReading();
    void stopReading();
    void show(quint64 reading, const QStringList &names);
    void removeVanished(const QStringList &names);
    void insertNew(const QStringList &names);

    QString m_folder;
    QStringList m_names;
    QFileSystemWatcher m_watcher;
    // A burst of changes (a copy of many files) is read once it has settled a little.
    QTimer m_changed;
    std::thread m_reader;
    std::shared_ptr<std::atomic<bool>> m_readerStop;
    quint64 m_reading = 0; // the latest reading asked for; older results are dropped
};

} // namespace ui
