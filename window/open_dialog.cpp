#include "window/open_dialog.h"

#include "engine/path_bytes.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>

#include <chrono>
#include <system_error>

namespace movarin {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kExtension = ".flv";

QString textOf(const fs::path& path) {
#ifdef _WIN32
    return QString::fromStdWString(path.native());
#else
    return from_path_bytes(path.native());
#endif
}

fs::path pathOf(const QString& text) {
#ifdef _WIN32
    return fs::path(text.toStdWString());
#else
    return fs::path(to_path_bytes(text));
#endif
}

QString shown(const fs::path& path) {
    return readable_path(QDir::toNativeSeparators(textOf(path)));
}

// "/a/b/" and "/a/./b" are the folder "/a/b".
fs::path tidy(const fs::path& folder) {
    fs::path path = folder.lexically_normal();
    if (path.has_relative_path() && !path.has_filename())
        path = path.parent_path();
    return path;
}

QString modifiedText(fs::file_time_type modified) {
    if (modified == fs::file_time_type{})
        return QString();
    const auto since = std::chrono::file_clock::to_sys(modified).time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since).count();
    return QLocale().toString(QDateTime::fromSecsSinceEpoch(seconds), QLocale::ShortFormat);
}

} // namespace

QString choose_video_file(QWidget* parent) {
#if MOVARIN_OWN_OPEN_DIALOG
    // As the platform's dialog does, the next Open starts where the last chosen file is; the
    // first starts in the current folder. Kept for this run only.
    static fs::path lastFolder;
    OpenDialog dialog(parent);
    std::error_code error;
    const fs::path here = fs::current_path(error);
    if (lastFolder.empty() || !dialog.setDirectory(textOf(lastFolder))) {
        if (error || !dialog.setDirectory(textOf(here))) {
            if (!dialog.setDirectory(QDir::homePath()))
                dialog.setDirectory(QDir::rootPath());
        }
    }
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    lastFolder = pathOf(dialog.selectedFile()).parent_path();
    return dialog.selectedFile();
#else
    QFileDialog dialog(parent);
    dialog.setNameFilter(QStringLiteral("FLV Files(*.flv)"));
    // A typed name that names no file is taken as it is; the player then says it cannot play it.
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
#endif
}

namespace {

QToolButton* parentFolderButton(QWidget* parent) {
    auto* up = new QToolButton(parent);
    up->setObjectName(QStringLiteral("toParentButton"));
    up->setIcon(parent->style()->standardIcon(QStyle::SP_FileDialogToParent));
    up->setToolTip(OpenDialog::tr("Up One Level"));
    up->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Up));
    up->setAutoRaise(true);
    return up;
}

QTreeWidget* fileList(QWidget* parent) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(QStringLiteral("fileList"));
    list->setHeaderLabels({OpenDialog::tr("Name"), OpenDialog::tr("Size"), OpenDialog::tr("Type"),
                           OpenDialog::tr("Date Modified")});
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSortingEnabled(false);
    list->header()->setStretchLastSection(false);
    list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int column = 1; column < 4; ++column)
        list->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    return list;
}

QPushButton* button(const QString& text, const char* name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    return button;
}

QLabel* labelFor(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

} // namespace

OpenDialog::OpenDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Open"));
    setObjectName(QStringLiteral("OpenDialog"));
    makeWidgets();
    layOut();

    connect(m_up, &QToolButton::clicked, this, [this] {
        if (m_folder.has_relative_path())
            go(m_folder.parent_path());
    });
    connect(m_lookIn, &QComboBox::activated, this,
            [this](int index) { go(pathOf(m_lookIn->itemData(index).toString())); });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (const DirectoryEntry* entry = entryOf(item))
            choose(*entry);
    });
    // A file picked in the list is named in the field; a folder leaves what the user typed.
    connect(m_list, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        const DirectoryEntry* entry = entryOf(item);
        if (entry && !entry->directory)
            m_name->setText(readable_path(textOf(entry->name)));
    });
    connect(m_open, &QPushButton::clicked, this, &OpenDialog::openClicked);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void OpenDialog::makeWidgets() {
    m_lookIn = new QComboBox(this);
    m_lookIn->setObjectName(QStringLiteral("lookInCombo"));
    m_up = parentFolderButton(this);
    m_list = fileList(this);
    m_list->installEventFilter(this);
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("fileNameEdit"));
    m_types = new QComboBox(this);
    m_types->setObjectName(QStringLiteral("fileTypeCombo"));
    m_types->addItem(QStringLiteral("FLV Files(*.flv)"));
    m_open = button(tr("&Open"), "openButton", this);
    m_open->setDefault(true);
    m_cancel = button(tr("Cancel"), "cancelButton", this);
}

void OpenDialog::layOut() {
    auto* grid = new QGridLayout(this);
    grid->addWidget(labelFor(tr("Look &in:"), m_lookIn, this), 0, 0);
    grid->addWidget(m_lookIn, 0, 1);
    grid->addWidget(m_up, 0, 2);
    grid->addWidget(m_list, 1, 0, 1, 3);
    grid->addWidget(labelFor(tr("File &name:"), m_name, this), 2, 0);
    grid->addWidget(m_name, 2, 1);
    grid->addWidget(m_open, 2, 2);
    grid->addWidget(labelFor(tr("Files of &type:"), m_types, this), 3, 0);
    grid->addWidget(m_types, 3, 1);
    grid->addWidget(m_cancel, 3, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(1, 1);
    setTabOrder(m_name, m_types);
    setTabOrder(m_types, m_open);
    setTabOrder(m_open, m_cancel);
    setTabOrder(m_cancel, m_lookIn);
    setTabOrder(m_lookIn, m_list);
    m_name->setFocus();
    resize(640, 420);
}

bool OpenDialog::setDirectory(const QString& folder) {
    return showFolder(pathOf(folder));
}

QString OpenDialog::directory() const {
    return textOf(m_folder);
}

bool OpenDialog::showFolder(const fs::path& folder) {
    const fs::path path = tidy(folder);
    DirectoryListing listing = list_directory(path, kExtension);
    if (!listing.readable)
        return false;
    m_folder = path;
    m_entries = std::move(listing.entries);
    fill();
    return true;
}

bool OpenDialog::go(const fs::path& folder) {
    if (showFolder(folder))
        return true;
    QMessageBox::warning(this, windowTitle(),
                         tr("Cannot open the folder %1.").arg(shown(tidy(folder))));
    return false;
}

void OpenDialog::fill() {
    const QLocale locale;
    const QIcon folderIcon = style()->standardIcon(QStyle::SP_DirIcon);
    const QIcon fileIcon = style()->standardIcon(QStyle::SP_FileIcon);
    m_list->clear();
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const DirectoryEntry& entry = m_entries[i];
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, readable_path(textOf(entry.name)));
        item->setIcon(0, entry.directory ? folderIcon : fileIcon);
        item->setData(0, Qt::UserRole, qulonglong(i));
        if (!entry.directory) {
            item->setText(1, locale.formattedDataSize(qint64(entry.size), 1,
                                                      QLocale::DataSizeTraditionalFormat));
            item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        }
        item->setText(2, entry.directory ? tr("Folder") : tr("FLV File"));
        item->setText(3, modifiedText(entry.modified));
    }

    // The folder and each folder above it, the nearest first.
    m_lookIn->clear();
    for (fs::path path = m_folder;; path = path.parent_path()) {
        m_lookIn->addItem(style()->standardIcon(QStyle::SP_DirIcon), shown(path), textOf(path));
        if (!path.has_relative_path())
            break;
    }
    m_lookIn->setCurrentIndex(0);
    m_up->setEnabled(m_folder.has_relative_path());
}

const DirectoryEntry* OpenDialog::entryOf(const QTreeWidgetItem* item) const {
    if (!item)
        return nullptr;
    const qulonglong index = item->data(0, Qt::UserRole).toULongLong();
    return index < m_entries.size() ? &m_entries[index] : nullptr;
}

void OpenDialog::choose(const DirectoryEntry& entry) {
    const fs::path path = m_folder / entry.name;
    if (entry.directory)
        go(path);
    else
        finish(path);
}

void OpenDialog::openClicked() {
    const QString typed = m_name->text().trimmed();
    const DirectoryEntry* current = entryOf(m_list->currentItem());
    if (typed.isEmpty()) {
        if (current)
            choose(*current);
        return;
    }
    // The field shows a name as a person reads it; the list keeps its bytes.
    if (current && !current->directory && typed == readable_path(textOf(current->name))) {
        finish(m_folder / current->name);
        return;
    }
    const fs::path target = resolve(typed);
    std::error_code error;
    if (fs::is_directory(target, error)) {
        if (go(target))
            m_name->clear();
        return;
    }
    // No check that it exists: the player says so when it cannot play it.
    finish(target);
}

void OpenDialog::finish(const fs::path& file) {
    m_selected = textOf(file);
    accept();
}

fs::path OpenDialog::resolve(const QString& typed) const {
    QString text = typed;
#ifndef _WIN32
    if (text == QLatin1String("~") || text.startsWith(QLatin1String("~/")))
        text = from_path_bytes(qgetenv("HOME").toStdString()) + text.mid(1);
#endif
    fs::path path = pathOf(text);
    if (!path.is_absolute())
        path = m_folder / path;
    return path.lexically_normal();
}

bool OpenDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (const DirectoryEntry* entry = entryOf(m_list->currentItem()))
                choose(*entry);
            return true;
        }
        if (key == Qt::Key_Backspace) {
            m_up->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace movarin
