#pragma once

#include "window/directory_listing.h"

#include <QDialog>
#include <QString>

#include <filesystem>
#include <vector>

class QComboBox;
class QLineEdit;
class QPushButton;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

// Names on Windows are UTF-16, which the platform's own dialog returns whole. Elsewhere names
// are bytes, and Qt's file dialog leaves out those that are not valid text, so ours lists them.
#ifndef MOVARIN_OWN_OPEN_DIALOG
#ifdef _WIN32
#define MOVARIN_OWN_OPEN_DIALOG 0
#else
#define MOVARIN_OWN_OPEN_DIALOG 1
#endif
#endif

namespace movarin {

// Asks for a video: the chosen full path (bytes carried as engine/path_bytes.h does), or an
// empty string on Cancel. A typed name that names no file is returned as it is.
QString choose_video_file(QWidget* parent);

// A classic Open dialog over list_directory: folders and FLV files, a file-name field, Open
// and Cancel.
class OpenDialog : public QDialog {
    Q_OBJECT
public:
    explicit OpenDialog(QWidget* parent = nullptr);

    // Shows `folder`; false, and nothing changes, when it cannot be read.
    bool setDirectory(const QString& folder);
    QString directory() const;
    // The chosen full path once the dialog has been accepted.
    QString selectedFile() const { return m_selected; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void makeWidgets();
    void layOut();
    bool showFolder(const std::filesystem::path& folder);
    // The user's way in: says so, and false, when the folder cannot be read.
    bool go(const std::filesystem::path& folder);
    void fill();
    const DirectoryEntry* entryOf(const QTreeWidgetItem* item) const;
    void choose(const DirectoryEntry& entry);
    void openClicked();
    void finish(const std::filesystem::path& file);
    std::filesystem::path resolve(const QString& typed) const;

    std::filesystem::path m_folder;
    std::vector<DirectoryEntry> m_entries;
    QString m_selected;
    QComboBox* m_lookIn = nullptr;
    QToolButton* m_up = nullptr;
    QTreeWidget* m_list = nullptr;
    QLineEdit* m_name = nullptr;
    QComboBox* m_types = nullptr;
    QPushButton* m_open = nullptr;
    QPushButton* m_cancel = nullptr;
};

} // namespace movarin
