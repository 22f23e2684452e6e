// SPDX-License-Identifier: MIT
#include "ui/batch/batchwindow.h"

#include "control/batchrunner.h"
#include "device/filenames.h"
#include "ui/batch/folderfiles.h"
#include "ui/batch/folderlisting.h"
#include "ui/widgets/statelabel.h"

#include <QDir>
#include <QEvent>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QTreeView>
#include <algorithm>

namespace ui {
namespace {

QPushButton *makeButton(const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    // Enter in the delay field must not start a run.
    button->setAutoDefault(false);
    return button;
}

} // namespace

BatchWindow::BatchWindow(control::BatchRunner &runner, QWidget *parent)
    : QDialog(parent), m_runner(runner)
{
    setWindowTitle(tr("Run Batch"));

    createLists();

    m_runButton = makeButton(tr("&Run Batch"), this);
    m_stopButton = makeButton(tr("S&top Batch"), this);
    m_stepDownButton = makeButton(tr("Single Step &Down"), this);
    m_stepUpButton = makeButton(tr("Single Step &Up"), this);

    m_runButton->setToolTip(tr("Writes the selected files' codes to the chip one after another, "
                               "waiting the delay after each"));
    m_stepDownButton->setToolTip(
        tr("Writes the codes of the file below the current one to the chip"));
    m_stepUpButton->setToolTip(
        tr("Writes the codes of the file above the current one to the chip"));
    m_path = new QLineEdit(this);
    m_path->setObjectName(QStringLiteral("folderPath"));
    m_path->setAccessibleName(tr("Folder path"));
    m_path->setToolTip(tr("Type the path of a folder and press Enter to open it"));
    m_pathProblem = new QLabel(this);
    m_pathProblem->setObjectName(QStringLiteral("folderProblem"));
    m_pathProblem->setTextFormat(Qt::PlainText); // paths are not markup
    m_pathProblem->setWordWrap(true);
    m_pathProblem->hide();
    m_delay = new QLineEdit(this);
    m_delay->setObjectName(QStringLiteral("delay"));
    m_delay->setAccessibleName(tr("Delay in seconds"));
    m_delay->setMaximumWidth(80);
    m_state = new QLabel(this);
    m_state->setObjectName(QStringLiteral("batchState"));
    nameStateLabel(m_state, tr("Batch state"));

    m_status = new QLabel(this);
    m_status->setAccessibleName(tr("Batch status"));
    QFont statusFont = m_status->font();
    statusFont.setBold(true);
    statusFont.setPointSizeF(13.5);
    m_status->setFont(statusFont);
    m_status->setTextFormat(Qt::PlainText); // file names are not markup
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->setMinimumHeight(2 * QFontMetrics(statusFont).height());
    // A long file name is cut short in its middle, never widening the window; the whole of it
    // is a hover away.
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_status->installEventFilter(this);

    layOut();
    // The delay is set before a run starts: its box comes before the buttons.
    setTabOrder(m_path, m_folders);
    setTabOrder(m_folders, m_files);
    setTabOrder(m_files, m_delay);
    setTabOrder(m_delay, m_runButton);
    setTabOrder(m_runButton, m_stopButton);
    setTabOrder(m_stopButton, m_stepDownButton);
    setTabOrder(m_stepDownButton, m_stepUpButton);

    // A run returns only when it has ended; nothing here touches the window afterwards, as the
    // window may have been closed inside it.
    connect(m_path, &QLineEdit::returnPressed, this, &BatchWindow::openTypedFolder);
    connect(m_path, &QLineEdit::textEdited, this, [this] { showPathProblem(QString()); });
    connect(m_runButton, &QPushButton::clicked, this, [this] { m_runner.run(m_delay->text()); });
    connect(m_stopButton, &QPushButton::clicked, this, [this] { m_runner.stop(); });
    connect(m_stepDownButton, &QPushButton::clicked, this, [this] { m_runner.stepDown(); });
    connect(m_stepUpButton, &QPushButton::clicked, this, [this] { m_runner.stepUp(); });
    connect(&m_runner, &control::BatchRunner::statusTextChanged, this, &BatchWindow::showStatus);
    connect(&m_runner, &control::BatchRunner::stateChanged, this, &BatchWindow::showBatchState);
    showBatchState(m_runner.state());

    m_delay->setText(control::BatchRunner::initialDelayText());
    m_runner.setList(this);
    setFolder(m_runner.openWindow());
    showStatus(m_runner.statusText());
}

void BatchWindow::createLists()
{
    // The whole file system from its root, so that the user can go anywhere, beside the folder
    // as well. No hidden entries; the listings keep only folders and regular files (or links to
    // them).
    m_folderModel = new QFileSystemModel(this);
    m_folderModel->setFilter(QDir::Dirs | QDir::NoDotAndDotDot);
    // Folders load in the background, and those that come in above the open one push it down:
    // it is brought back into sight once the folders on its way have been read.
    connect(m_folderModel, &QFileSystemModel::directoryLoaded, this, [this](const QString &path) {
        if (m_folder == path || m_folder.startsWith(path.endsWith(u'/') ? path : path + u'/'))
            m_folders->scrollTo(m_folders->currentIndex());
    });
    m_folderListing = new FolderListing(m_folderModel, this);
    m_fileList = new FolderFiles(this);

    m_folders = new QTreeView(this);
    m_folders->setModel(m_folderListing);
    m_folders->setHeaderHidden(true);
    for (int column = 1; column < m_folderListing->columnCount(); ++column)
        m_folders->hideColumn(column);
    // Long names widen the column and scroll rather than being cut short.
    m_folders->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_folders->header()->setStretchLastSection(false);
    // A double click opens the folder; it must not fold it up again straight after.
    m_folders->setExpandsOnDoubleClick(false);
    m_folders->setToolTip(tr("Double-click a folder to open it"));
    m_folders->setAccessibleName(tr("Folders"));

    // Files that vanish leave the selection, which is not the user's doing either. These come
    // before the view's own connections, so they run first.
    connect(m_fileList, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this] { ++m_refilling; });
    connect(m_fileList, &QAbstractItemModel::rowsRemoved, this, [this] { --m_refilling; });
    m_files = new QListView(this);
    m_files->setAccessibleName(tr("Register-set files"));
    m_files->setModel(m_fileList);
    m_files->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_files->setUniformItemSizes(true);
    connect(m_files->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (m_refilling == 0)
            m_runner.listClicked();
    });
    connect(m_files, &QListView::clicked, this, [this] { m_runner.listClicked(); });
    connect(m_folders, &QTreeView::activated, this,
            [this](const QModelIndex &index) { setFolder(m_folderListing->filePath(index)); });
}

void BatchWindow::layOut()
{
    auto *pathRow = new QHBoxLayout;
    auto *pathCaption = new QLabel(tr("&Folder"), this);
    pathCaption->setBuddy(m_path);
    pathRow->addWidget(pathCaption);
    pathRow->addWidget(m_path, 1);

    auto *delayRow = new QHBoxLayout;
    auto *delayCaption = new QLabel(tr("De&lay"), this);
    delayCaption->setBuddy(m_delay);
    delayRow->addWidget(delayCaption);
    delayRow->addWidget(m_delay);
    delayRow->addWidget(new QLabel(tr("sec."), this));
    delayRow->addStretch();
    delayRow->addWidget(m_state);

    auto *stepRow = new QHBoxLayout;
    stepRow->addWidget(m_stepDownButton);
    stepRow->addWidget(m_stepUpButton);

    auto *layout = new QGridLayout(this);
    layout->addLayout(pathRow, 0, 0, 1, 2);
    layout->addWidget(m_pathProblem, 1, 0, 1, 2);
    layout->addWidget(m_folders, 2, 0);
    layout->addWidget(m_files, 2, 1);
    layout->addWidget(m_runButton, 3, 0);
    layout->addLayout(delayRow, 3, 1);
    layout->addWidget(m_stopButton, 4, 0);
    layout->addLayout(stepRow, 4, 1);
    layout->addWidget(m_status, 5, 0, 1, 2);
    layout->setRowStretch(2, 1);
    layout->setColumnStretch(0, 1);
    layout->setColumnStretch(1, 1);
    resize(640, 440);
}

BatchWindow::~BatchWindow()
{
    releaseList();
}

void BatchWindow::done(int result)
{
    releaseList();
    QDialog::done(result);
}

void BatchWindow::showStatus(const QString &text)
{
    m_statusText = text;
    m_status->setText(
        m_status->fontMetrics().elidedText(text, Qt::ElideMiddle, std::max(m_status->width(), 1)));
    // Heard whole, whatever the label has room for.
    m_status->setAccessibleName(text.isEmpty() ? tr("Batch status")
                                               : tr("Batch status: %1").arg(text));
    m_status->setToolTip(text);
}

bool BatchWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_status && event->type() == QEvent::Resize)
        showStatus(m_statusText);
    return QDialog::eventFilter(watched, event);
}

void BatchWindow::showBatchState(control::BatchRunner::State state)
{
    ui::showState(m_state, control::BatchRunner::stateText(state));
    const bool running = state != control::BatchRunner::State::Stopped;
    m_runButton->setEnabled(!running);
    m_stepDownButton->setEnabled(!running);
    m_stepUpButton->setEnabled(!running);
}

void BatchWindow::placeBeside(const QWidget *window)
{
    // The window updates the grid, so it goes beside it rather than over it where the screen
    // has room, and otherwise at the screen's edge where it covers the least of it.
    const QScreen *screen = window->screen();
    if (!screen)
        return;
    const QRect room = screen->availableGeometry();
    const QRect main = window->frameGeometry();
    const QSize size = frameGeometry().size().expandedTo(this->size());
    const int top =
        std::clamp(main.top(), room.top(), std::max(room.top(), room.bottom() - size.height()));
    const QList<QPoint> places{{main.right() + 1, top},
                               {main.left() - size.width(), top},
                               {room.right() + 1 - size.width(), top},
                               {room.left(), top}};
    QPoint best;
    qint64 leastCovered = -1;
    for (const QPoint &place : places) {
        const QRect placed(place, size);
        if (!room.contains(placed))
            continue;
        const QRect covered = placed.intersected(main);
        const qint64 area = covered.isEmpty() ? 0 : qint64(covered.width()) * covered.height();
        if (leastCovered < 0 || area < leastCovered) {
            leastCovered = area;
            best = place;
        }
    }
    if (leastCovered >= 0)
        move(best);
}

void BatchWindow::releaseList()
{
    if (m_runner.list() == this)
        m_runner.setList(nullptr);
}

void BatchWindow::openTypedFolder()
{
    QString problem;
    const QString folder = control::BatchRunner::folderToOpen(m_path->text(), m_folder, &problem);
    // Refused, the field keeps what was typed so that it can be put right.
    if (folder.isEmpty())
        showPathProblem(problem);
    else
        setFolder(folder);
}

void BatchWindow::showPathProblem(const QString &problem)
{
    m_pathProblem->setText(problem);
    m_pathProblem->setVisible(!problem.isEmpty());
}

void BatchWindow::setFolder(const QString &path)
{
    m_folder = QDir(path).absolutePath();
    m_path->setText(device::shownFileName(m_folder));
    showPathProblem(QString());
    showFolderInTree();
    // A new folder drops the selection, but that is not the user's doing.
    ++m_refilling;
    m_files->selectionModel()->clear();
    m_fileList->setFolder(m_folder);
    --m_refilling;
}

// The folder's ancestors from the root down, each opened, then the folder itself, current and
// in sight.
void BatchWindow::showFolderInTree()
{
    m_folderModel->setRootPath(m_folder);
    // Opening a folder may load and re-sort the tree, so its indexes must be persistent.
    QList<QPersistentModelIndex> chain;
    for (QModelIndex index = m_folderListing->indexOfPath(m_folder); index.isValid();
         index = index.parent())
        chain.prepend(index);
    for (const QPersistentModelIndex &index : std::as_const(chain))
        m_folders->expand(index);
    if (!chain.isEmpty()) {
        m_folders->setCurrentIndex(chain.last());
        m_folders->scrollTo(chain.last());
    }
}

QModelIndex BatchWindow::fileIndex(int position) const
{
    return m_fileList->index(position, 0);
}

int BatchWindow::count() const
{
    return m_fileList->rowCount();
}

bool BatchWindow::isSelected(int position) const
{
    const QModelIndex index = fileIndex(position);
    return index.isValid() && m_files->selectionModel()->isSelected(index);
}

QString BatchWindow::name(int position) const
{
    const QModelIndex index = fileIndex(position);
    return index.isValid() ? m_fileList->fileName(position) : QString();
}

} // namespace ui
