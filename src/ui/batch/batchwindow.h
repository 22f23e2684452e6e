// SPDX-License-Identifier: MIT
#pragma once

#include "control/batchlist.h"
#include "control/batchrunner.h"

#include <QDialog>
#include <QString>

class QFileSystemModel;
class QLabel;
class QLineEdit;
class QListView;
class QModelIndex;
class QPushButton;
class QTreeView;

namespace ui {

class FolderFiles;
class FolderListing;

// "Run Batch": a folder, its files, and the buttons that play the selected ones. The runner
// does the work; this window lends it the file list while it is open and mirrors its status
// line. Each opening builds a new window: the delay, the folder and the selection start afresh,
// while the runner keeps its state.
class BatchWindow : public QDialog, private control::BatchList
{
    Q_OBJECT

public:
    explicit BatchWindow(control::BatchRunner &runner, QWidget *parent = nullptr);
    ~BatchWindow() override;

    QString folder() const override { return m_folder; }
    // Shows another folder: the path field names it, the folder tree opens down to it and the
    // file list refills. Both lists load in the background and follow the folder's changes
    // while they are shown.
    void setFolder(const QString &path);
    // Moves the window beside the given one when the screen has room for it there.
    void placeBeside(const QWidget *window);

    // Closing ends a run at once.
    void done(int result) override;

private:
    int count() const override;
    bool isSelected(int position) const override;
    QString name(int position) const override;

    void createLists();
    // Enter in the path field: the folder typed, or a word on why it cannot be opened.
    void openTypedFolder();
    void showPathProblem(const QString &problem);
    void layOut();
    QModelIndex fileIndex(int position) const;
    void showFolderInTree();
    void releaseList();
    void showBatchState(control::BatchRunner::State state);
    // The runner's status line, cut to the label's width.
    void showStatus(const QString &text);
    bool eventFilter(QObject *watched, QEvent *event) override;

    control::BatchRunner &m_runner;
    QString m_folder;
    QString m_statusText;
    // Above 0 while the list changes under the selection without the user's doing.
    int m_refilling = 0;
    QFileSystemModel *m_folderModel = nullptr;
    FolderListing *m_folderListing = nullptr;
    FolderFiles *m_fileList = nullptr;
    QTreeView *m_folders = nullptr;
    QListView *m_files = nullptr;
    QLineEdit *m_path = nullptr;
    QLabel *m_pathProblem = nullptr;
    QLineEdit *m_delay = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_state = nullptr;
    QPushButton *m_runButton = nullptr;
    QPushButton *m_stopButton = nullptr;
    QPushButton *m_stepDownButton = nullptr;
    QPushButton *m_stepUpButton = nullptr;
};

} // namespace ui
