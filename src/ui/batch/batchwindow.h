#pragma once

#include "control/batchlist.h"

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace control {
class BatchRunner;
}

namespace ui {

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
    // Shows another folder: the directory list follows it and the file list refills.
    void setFolder(const QString &path);

    // Closing ends a run at once.
    void done(int result) override;

private:
    int count() const override;
    bool isSelected(int position) const override;
    QString name(int position) const override;

    void fillFolderTree();
    void fillFileList();
    void folderActivated(QTreeWidgetItem *item);
    void releaseList();

    control::BatchRunner &m_runner;
    QString m_folder;
    bool m_refilling = false;
    QTreeWidget *m_folders = nullptr;
    QListWidget *m_files = nullptr;
    QLineEdit *m_delay = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_runButton = nullptr;
    QPushButton *m_stopButton = nullptr;
    QPushButton *m_stepDownButton = nullptr;
    QPushButton *m_stepUpButton = nullptr;
};

} // namespace ui
