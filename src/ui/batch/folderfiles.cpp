// SPDX-License-Identifier: MIT
#include "ui/batch/folderfiles.h"

#include "device/filenames.h"

#include <QCollator>
#include <QSet>
#include <algorithm>
#include <dirent.h>
#include <numeric>
#include <sys/stat.h>

namespace ui {
namespace {

constexpr int settleMs = 100;

// The folder's files in list order, or as far as they were read when asked to stop. Read by
// the names' bytes: QDir turns a name that is not valid UTF-8 into one that opens nothing, so
// such a file would vanish from the list.
QStringList readFolder(const QString &folder, const std::atomic<bool> &stop)
{
    QStringList names;
    DIR *listing = ::opendir(device::encodeFileName(folder).constData());
    if (!listing)
        return names;
    while (!stop.load(std::memory_order_relaxed)) {
        const dirent *entry = ::readdir(listing);
        if (!entry)
            break;
        // Nothing hidden, and neither "." nor "..".
        if (entry->d_name[0] == '.')
            continue;
        // Links are followed: a link to a regular file counts, pipes, sockets, devices and
        // links to them do not. stat() never blocks on a pipe.
        struct stat info = {};
        if (::fstatat(::dirfd(listing), entry->d_name, &info, 0) == 0 && S_ISREG(info.st_mode))
            names.append(device::decodeFileName(QByteArray(entry->d_name)));
    }
    ::closedir(listing);
    // Sort keys once per name: comparing them is cheap, collating two names is not.
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::vector<QCollatorSortKey> keys;
    keys.reserve(std::size_t(names.size()));
    for (const QString &name : std::as_const(names))
        keys.push_back(collator.sortKey(name));
    std::vector<qsizetype> order(std::size_t(names.size()));
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        const int byKey = keys[std::size_t(a)].compare(keys[std::size_t(b)]);
        // Names equal but for case still need a fixed order.
        return byKey != 0 ? byKey < 0 : names[a] < names[b];
    });
    QStringList sorted;
    sorted.reserve(names.size());
    for (const qsizetype i : order)
        sorted.append(names[i]);
    return sorted;
}

} // namespace

FolderFiles::FolderFiles(QObject *parent) : QAbstractListModel(parent)
{
    m_changed.setSingleShot(true);
    m_changed.setInterval(settleMs);
    connect(&m_changed, &QTimer::timeout, this, &FolderFiles::startReading);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, &m_changed,
            qOverload<>(&QTimer::start));
}

FolderFiles::~FolderFiles()
{
    stopReading();
}

void FolderFiles::setFolder(const QString &path)
{
    if (path != m_folder) {
        stopReading();
        if (!m_folder.isEmpty())
            m_watcher.removePath(m_folder);
        beginResetModel();
        m_names.clear();
        m_folder = path;
        endResetModel();
        m_watcher.addPath(m_folder);
    }
    m_changed.stop();
    startReading();
}

QString FolderFiles::fileName(int row) const
{
    return row >= 0 && row < m_names.size() ? m_names[row] : QString();
}

int FolderFiles::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_names.size());
}

QVariant FolderFiles::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const QString name = fileName(index.row());
    const QString shown = device::shownFileName(name);
    if (role == Qt::ToolTipRole && shown != name)
        return tr("%1\nThis name is not valid UTF-8: \ufffd stands for each byte that is not "
                  "text. The file plays as any other.")
            .arg(shown);
    return shown;
}

void FolderFiles::startReading()
{
    stopReading();
    const quint64 reading = ++m_reading;
    auto stop = std::make_shared<std::atomic<bool>>(false);
    m_readerStop = stop;
    m_reader = std::thread([this, folder = m_folder, reading, stop] {
        QStringList names = readFolder(folder, *stop);
        if (stop->load())
            return;
        // Queued to this object: a model destroyed meanwhile has joined this thread first, and
        // its pending events go with it.
        QMetaObject::invokeMethod(
            this, [this, reading, names = std::move(names)] { show(reading, names); },
            Qt::QueuedConnection);
    });
}

void FolderFiles::stopReading()
{
    if (m_readerStop)
        m_readerStop->store(true);
    if (m_reader.joinable())
        m_reader.join();
    m_readerStop.reset();
}

void FolderFiles::show(quint64 reading, const QStringList &names)
{
    if (reading != m_reading)
        return;
    if (m_reader.joinable())
        m_reader.join();
    removeVanished(names);
    insertNew(names);
    emit listed();
}

// Both lists are in the same order, so what is left after the removals is a part of the new
// list in its order.
void FolderFiles::removeVanished(const QStringList &names)
{
    const QSet<QString> kept(names.cbegin(), names.cend());
    for (qsizetype last = m_names.size() - 1; last >= 0;) {
        if (kept.contains(m_names[last])) {
            --last;
            continue;
        }
        qsizetype first = last;
        while (first > 0 && !kept.contains(m_names[first - 1]))
            --first;
        beginRemoveRows({}, int(first), int(last));
        m_names.remove(first, last - first + 1);
        endRemoveRows();
        last = first - 1;
    }
}

void FolderFiles::insertNew(const QStringList &names)
{
    for (qsizetype at = 0; at < names.size();) {
        if (at < m_names.size() && m_names[at] == names[at]) {
            ++at;
            continue;
        }
        qsizetype end = at + 1;
        if (at < m_names.size()) {
            while (end < names.size() && names[end] != m_names[at])
                ++end;
        } else {
            end = names.size();
        }
        beginInsertRows({}, int(at), int(end - 1));
        m_names = m_names.first(at) + names.mid(at, end - at) + m_names.sliced(at);
        endInsertRows();
        at = end;
    }
}

} // namespace ui
