#include "ui/batch/batchwindow.h"

#include "control/batchrunner.h"

#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>

namespace ui {
namespace {

constexpr int folderPathRole = Qt::UserRole;

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

    m_folders = new QTreeWidget(this);
    m_folders->setHeaderHidden(true);
    m_folders->setColumnCount(1);
    m_folders->setRootIsDecorated(false);
    m_folders->setToolTip(tr("Double-click a folder to open it"));

    m_files = new QListWidget(this);
    m_files->setSelectionMode(QAbstractItemView::ExtendedSelection);

    m_runButton = makeButton(tr("Run Batch"), this);
    m_stopButton = makeButton(tr("Stop Batch"), this);
    m_stepDownButton = makeButton(tr("Single Step Down"), this);
    m_stepUpButton = makeButton(tr("Single Step Up"), this);

    m_delay = new QLineEdit(this);
    m_delay->setMaximumWidth(80);

    m_status = new QLabel(this);
    QFont statusFont = m_status->font();
    statusFont.setBold(true);
    statusFont.setPointSizeF(13.5);
    m_status->setFont(statusFont);
    m_status->setTextFormat(Qt::PlainText); // file names are not markup
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->setMinimumHeight(2 * QFontMetrics(statusFont).height());

    auto *delayRow = new QHBoxLayout;
    delayRow->addWidget(new QLabel(tr("Delay"), this));
    delayRow->addWidget(m_delay);
    delayRow->addWidget(new QLabel(tr("sec."), this));
    delayRow->addStretch();

    auto *stepRow = new QHBoxLayout;
    stepRow->addWidget(m_stepDownButton);
    stepRow->addWidget(m_stepUpButton);

    auto *layout = new QGridLayout(this);
    layout->addWidget(m_folders, 0, 0);
    layout->addWidget(m_files, 0, 1);
    layout->addWidget(m_runButton, 1, 0);
    layout->addLayout(delayRow, 1, 1);
    layout->addWidget(m_stopButton, 2, 0);
    layout->addLayout(stepRow, 2, 1);
    layout->addWidget(m_status, 3, 0, 1, 2);
    layout->setRowStretch(0, 1);
    layout->setColumnStretch(0, 1);
    layout->setColumnStretch(1, 1);
    resize(640, 440);

    // A run returns only when it has ended; nothing here touches the window afterwards, as the
    // window may have been closed inside it.
    connect(m_runButton, &QPushButton::clicked, this, [this] { m_runner.run(m_delay->text()); });
    connect(m_stopButton, &QPushButton::clicked, this, [this] { m_runner.stop(); });
    connect(m_stepDownButton, &QPushButton::clicked, this, [this] { m_runner.stepDown(); });
    connect(m_stepUpButton, &QPushButton::clicked, this, [this] { m_runner.stepUp(); });
    connect(m_files, &QListWidget::itemSelectionChanged, this, [this] {
        if (!m_refilling)
            m_runner.listClicked();
    });
    connect(m_files, &QListWidget::itemClicked, this, [this] { m_runner.listClicked(); });
    connect(m_folders, &QTreeWidget::itemActivated, this, &BatchWindow::folderActivated);
    connect(&m_runner, &control::BatchRunner::statusTextChanged, m_status, &QLabel::setText);

    m_delay->setText(control::BatchRunner::initialDelayText());
    m_runner.setList(this);
    setFolder(m_runner.openWindow());
    m_status->setText(m_runner.statusText());
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

void BatchWindow::releaseList()
{
    if (m_runner.list() == this)
        m_runner.setList(nullptr);
}

void BatchWindow::setFolder(const QString &path)
{
    m_folder = QDir(path).absolutePath();
    fillFolderTree();
    fillFileList();
}

int BatchWindow::count() const
{
    return m_files->count();
}

bool BatchWindow::isSelected(int position) const
{
    const QListWidgetItem *item = m_files->item(position);
    return item && item->isSelected();
}

QString BatchWindow::name(int position) const
{
    const QListWidgetItem *item = m_files->item(position);
    return item ? item->text() : QString();
}

// The folder's ancestors from the root down, each inside the one above, then its subfolders.
void BatchWindow::fillFolderTree()
{
    m_folders->clear();
    QStringList chain;
    QDir dir(m_folder);
    do {
        chain.prepend(dir.absolutePath());
    } while (dir.cdUp());

    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirIcon);
    QTreeWidgetItem *parentItem = nullptr;
    for (const QString &path : std::as_const(chain)) {
        const QString label =
            QDir(path).dirName().isEmpty() ? QDir::toNativeSeparators(path) : QDir(path).dirName();
        auto *item = parentItem ? new QTreeWidgetItem(parentItem) : new QTreeWidgetItem(m_folders);
        item->setText(0, label);
        item->setIcon(0, openIcon);
        item->setData(0, folderPathRole, path);
        parentItem = item;
    }
    const QStringList children = QDir(m_folder).entryList(
        QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    for (const QString &child : children) {
        auto *item = new QTreeWidgetItem(parentItem);
        item->setText(0, child);
        item->setIcon(0, closedIcon);
        item->setData(0, folderPathRole, QDir(m_folder).absoluteFilePath(child));
    }
    m_folders->expandAll();
    m_folders->setCurrentItem(parentItem);
}

void BatchWindow::fillFileList()
{
    // Refilling drops the selection, but that is not the user's doing.
    m_refilling = true;
    m_files->clear();
    m_files->addItems(
        QDir(m_folder).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware));
    m_refilling = false;
}

void BatchWindow::folderActivated(QTreeWidgetItem *item)
{
    const QString path = item->data(0, folderPathRole).toString();
    // The tree is rebuilt, so not while it is still delivering the activation of this item.
    QTimer::singleShot(0, this, [this, path] { setFolder(path); });
}

} // namespace ui
