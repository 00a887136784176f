// The Open dialog's folder listing, and the dialog itself under the offscreen platform: names
// that are not valid UTF-8 are listed, shown readably and returned byte for byte.
#include "engine/path_bytes.h"
#include "window/directory_listing.h"
#include "window/open_dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

#include <filesystem>
#include <fstream>

using namespace movarin;
namespace fs = std::filesystem;

namespace {

enum Kind { File, Folder, LinkToFolder, LinkToFile, DanglingLink };

struct Made {
    const char* name;
    Kind kind;
    // Place in the listing, or -1 for a name it leaves out.
    int position;
};

// Folders first, then the FLV files: letters without regard to case, numbers by value, a
// byte that is not UTF-8 after the letters.
const Made kMade[] = {
    {"sub", Folder, 2},           {"Zebra", Folder, 3},
    {"folder.flv", Folder, 0},    {"link-to-sub", LinkToFolder, 1},
    {"\xff\xfe", Folder, 4},      {".hidden-folder", Folder, -1},
    {"clip.flv", File, 7},        {"clip2.flv", File, 8},
    {"clip10.flv", File, 9},      {"LOUD.FLV", File, 12},
    {"Mixed.Flv", File, 13},      {"caf\xc3\xa9.flv", File, 5},
    {"caf\xe9.flv", File, 6},     {"\xff\xfe.flv", File, 14},
    {"link.flv", LinkToFile, 11}, {"dangling.flv", DanglingLink, 10},
    {".hidden.flv", File, -1},    {"notes.txt", File, -1},
    {"clip.flv.bak", File, -1},   {"flv", File, -1},
    {"a.flvx", File, -1},
};
constexpr int kListed = 15;

std::string bytesOf(const QString& text) {
    return to_path_bytes(text);
}

QStringList shownNames(const QTreeWidget* list) {
    QStringList names;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        names << list->topLevelItem(i)->text(0);
    return names;
}

// As a user double-clicks: a click first, so the view has seen the press on the same item.
void doubleClick(QTreeWidget* list, QTreeWidgetItem* item) {
    const QPoint at = list->visualItemRect(item).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

QTreeWidgetItem* itemNamed(const QTreeWidget* list, const QString& shown) {
    const QList<QTreeWidgetItem*> found = list->findItems(shown, Qt::MatchExactly, 0);
    return found.size() == 1 ? found.front() : nullptr;
}

} // namespace

class TestOpenDialog : public QObject {
    Q_OBJECT
    QTemporaryDir m_temp;
    fs::path m_root;

private slots:
    void initTestCase() {
        QVERIFY(m_temp.isValid());
        m_root = fs::path(bytesOf(m_temp.path())) / "videos";
        fs::create_directory(m_root);
        for (const Made& made : kMade) {
            const fs::path path = m_root / made.name;
            switch (made.kind) {
            case File:
                std::ofstream(path, std::ios::binary) << std::string(1500, 'x');
                break;
            case Folder:
                fs::create_directory(path);
                break;
            case LinkToFolder:
                fs::create_directory_symlink("sub", path);
                break;
            case LinkToFile:
                fs::create_symlink("clip.flv", path);
                break;
            case DanglingLink:
                fs::create_symlink("nothing here.flv", path);
                break;
            }
        }
    }
    // QTemporaryDir cannot remove names it cannot spell.
    void cleanupTestCase() { fs::remove_all(m_root); }

    void listing_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("position");
        for (const Made& made : kMade)
            QTest::newRow(readable_path(from_path_bytes(made.name)).toUtf8().constData())
                << QByteArray(made.name) << int(made.kind) << made.position;
    }
    void listing() {
        QFETCH(QByteArray, name);
        QFETCH(int, kind);
        QFETCH(int, position);
        const DirectoryListing listing = list_directory(m_root, ".flv");
        QVERIFY(listing.readable);
        QCOMPARE(int(listing.entries.size()), kListed);
        int at = -1;
        for (std::size_t i = 0; i < listing.entries.size(); ++i) {
            if (listing.entries[i].name == name.toStdString())
                at = int(i);
        }
        QCOMPARE(at, position);
        if (at < 0)
            return;
        const DirectoryEntry& entry = listing.entries[std::size_t(at)];
        QCOMPARE(entry.directory, kind == Folder || kind == LinkToFolder);
        if (kind == File || kind == LinkToFile) {
            QCOMPARE(entry.size, std::uintmax_t(1500));
            QVERIFY(entry.modified != fs::file_time_type{});
        }
    }

    void unreadableFolder() {
        for (const fs::path& path : {m_root / "no such folder", m_root / "clip.flv"}) {
            const DirectoryListing listing = list_directory(path, ".flv");
            QVERIFY(!listing.readable);
            QVERIFY(listing.entries.empty());
        }
    }

    void namesInAPersonsOrder_data() {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::newRow("case") << QByteArray("apple") << QByteArray("Banana");
        QTest::newRow("numbers by value") << QByteArray("take 9") << QByteArray("take 10");
        QTest::newRow("leading zeros") << QByteArray("take 007b") << QByteArray("take 8a");
        QTest::newRow("shorter first") << QByteArray("take") << QByteArray("take 1");
        QTest::newRow("tie by exact units") << QByteArray("Clip") << QByteArray("clip");
        QTest::newRow("tie of zeros") << QByteArray("a01") << QByteArray("a1");
        QTest::newRow("huge numbers")
            << QByteArray("x99999999999999999999998") << QByteArray("x99999999999999999999999");
    }
    void namesInAPersonsOrder() {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QVERIFY(compare_names(first.toStdString(), second.toStdString()) < 0);
        QVERIFY(compare_names(second.toStdString(), first.toStdString()) > 0);
        QCOMPARE(compare_names(first.toStdString(), first.toStdString()), 0);
    }

    void looksLikeAnOpenDialog() {
        OpenDialog dialog;
        QVERIFY(dialog.setDirectory(from_path_bytes(m_root.native())));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.windowTitle(), QString("Open"));
        auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
        QVERIFY(types);
        QCOMPARE(types->count(), 1);
        QCOMPARE(types->currentText(), QString("FLV Files(*.flv)"));
        QCOMPARE(dialog.findChild<QPushButton*>("openButton")->text(), QString("&Open"));
        QCOMPARE(dialog.findChild<QPushButton*>("cancelButton")->text(), QString("Cancel"));
        QVERIFY(dialog.findChild<QPushButton*>("openButton")->isDefault());
        auto* list = dialog.findChild<QTreeWidget*>("fileList");
        QVERIFY(list);
        QCOMPARE(
            shownNames(list),
            (QStringList{"folder.flv", "link-to-sub", "sub", "Zebra", "\ufffd\ufffd",
                         "caf\u00e9.flv", "caf\ufffd.flv", "clip.flv", "clip2.flv", "clip10.flv",
                         "dangling.flv", "link.flv", "LOUD.FLV", "Mixed.Flv", "\ufffd\ufffd.flv"}));
        QCOMPARE(list->topLevelItem(0)->text(2), QString("Folder"));
        QCOMPARE(list->topLevelItem(7)->text(2), QString("FLV File"));
        QVERIFY(!list->topLevelItem(7)->text(1).isEmpty());
        QVERIFY(list->topLevelItem(0)->text(1).isEmpty());
        auto* lookIn = dialog.findChild<QComboBox*>("lookInCombo");
        QCOMPARE(lookIn->currentText(), QString::fromStdString(m_root.native()));
        QCOMPARE(lookIn->itemText(lookIn->count() - 1), QString("/"));
        QVERIFY(dialog.findChild<QLineEdit*>("fileNameEdit")->hasFocus());
    }

    // Every way of moving between folders: double-click, Up, Backspace, a typed path (absolute,
    // relative, with a trailing slash, to the home folder), the Look in list.
    void navigates() {
        OpenDialog dialog;
        const QString root = from_path_bytes(m_root.native());
        QVERIFY(dialog.setDirectory(root));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* list = dialog.findChild<QTreeWidget*>("fileList");
        auto* name = dialog.findChild<QLineEdit*>("fileNameEdit");
        auto* up = dialog.findChild<QToolButton*>("toParentButton");
        auto* lookIn = dialog.findChild<QComboBox*>("lookInCombo");

        QTreeWidgetItem* sub = itemNamed(list, "sub");
        QVERIFY(sub);
        doubleClick(list, sub);
        QCOMPARE(dialog.directory(), root + "/sub");
        QVERIFY(list->topLevelItemCount() == 0);
        QVERIFY(dialog.isVisible());

        up->click();
        QCOMPARE(dialog.directory(), root);
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Backspace);
        QCOMPARE(dialog.directory(), m_temp.path());

        name->setText("videos/Zebra/");
        QTest::keyClick(name, Qt::Key_Return);
        QCOMPARE(dialog.directory(), root + "/Zebra");
        QVERIFY(name->text().isEmpty());
        QVERIFY(dialog.isVisible());

        name->setText(root + "/link-to-sub");
        QTest::keyClick(name, Qt::Key_Return);
        QCOMPARE(dialog.directory(), root + "/link-to-sub");

        name->setText("..");
        QTest::keyClick(name, Qt::Key_Return);
        QCOMPARE(dialog.directory(), root);

        // Enter on a folder in the list goes into it and does not also press Open.
        list->setCurrentItem(itemNamed(list, "folder.flv"));
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(dialog.directory(), root + "/folder.flv");
        QVERIFY(dialog.isVisible());

        lookIn->activated(1);
        QCOMPARE(dialog.directory(), root);

        name->setText("~");
        QTest::keyClick(name, Qt::Key_Return);
        QCOMPARE(dialog.directory(), QString::fromLocal8Bit(qgetenv("HOME")));

        dialog.setDirectory("/");
        QVERIFY(!up->isEnabled());
        QCOMPARE(lookIn->count(), 1);
        QVERIFY(!dialog.setDirectory(root + "/no such folder"));
        QCOMPARE(dialog.directory(), QString("/"));
        QVERIFY(dialog.isVisible());
    }

    // What comes back, for each way of choosing: the exact bytes of the file's full path.
    void returnsTheChosenPath_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("pick");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("select, Open") << "open"
                                      << "caf\ufffd.flv" << QByteArray("caf\xe9.flv");
        QTest::newRow("double-click") << "double"
                                      << "\ufffd\ufffd.flv" << QByteArray("\xff\xfe.flv");
        QTest::newRow("select, Enter in list") << "enter"
                                               << "caf\ufffd.flv" << QByteArray("caf\xe9.flv");
        QTest::newRow("select, Enter in field") << "field"
                                                << "caf\ufffd.flv" << QByteArray("caf\xe9.flv");
        QTest::newRow("UTF-8 name") << "open"
                                    << "caf\u00e9.flv" << QByteArray("caf\xc3\xa9.flv");
        QTest::newRow("typed name that does not exist")
            << "type"
            << "  new clip.flv " << QByteArray("new clip.flv");
        QTest::newRow("typed in another folder")
            << "type"
            << "sub/../Zebra/./later.flv" << QByteArray("Zebra/later.flv");
        QTest::newRow("typed name of a listed file") << "type"
                                                     << "clip2.flv" << QByteArray("clip2.flv");
        QTest::newRow("no extension added") << "type"
                                            << "clip" << QByteArray("clip");
    }
    void returnsTheChosenPath() {
        QFETCH(QString, how);
        QFETCH(QString, pick);
        QFETCH(QByteArray, expected);
        OpenDialog dialog;
        QVERIFY(dialog.setDirectory(from_path_bytes(m_root.native())));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* list = dialog.findChild<QTreeWidget*>("fileList");
        auto* name = dialog.findChild<QLineEdit*>("fileNameEdit");
        if (how == "type") {
            name->setText(pick);
            QTest::keyClick(name, Qt::Key_Return);
        } else {
            QTreeWidgetItem* item = itemNamed(list, pick);
            QVERIFY(item);
            if (how == "double") {
                doubleClick(list, item);
            } else {
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                                  list->visualItemRect(item).center());
                QCOMPARE(name->text(), pick);
                if (how == "enter")
                    QTest::keyClick(list, Qt::Key_Return);
                else if (how == "field")
                    QTest::keyClick(name, Qt::Key_Return);
                else
                    QTest::mouseClick(dialog.findChild<QPushButton*>("openButton"), Qt::LeftButton);
            }
        }
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(QByteArray::fromStdString(bytesOf(dialog.selectedFile())),
                 QByteArray::fromStdString((m_root / expected.toStdString()).native()));
    }

    // The dialog as the player asks for it, modal: it starts in the current folder, and after
    // a file was chosen, in that file's folder. Cancel gives nothing and moves nowhere.
    void chooseVideoFile_data() {
        QTest::addColumn<QString>("pick");
        QTest::addColumn<QByteArray>("startsIn");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("Cancel") << "" << QByteArray() << QByteArray();
        QTest::newRow("open in the current folder")
            << "caf\ufffd.flv" << QByteArray() << QByteArray("caf\xe9.flv");
        QTest::newRow("open in a typed folder")
            << "\ufffd\ufffd/x.flv" << QByteArray() << QByteArray("\xff\xfe/x.flv");
        QTest::newRow("the next starts there") << "" << QByteArray("\xff\xfe") << QByteArray();
    }
    void chooseVideoFile() {
        QFETCH(QString, pick);
        QFETCH(QByteArray, startsIn);
        QFETCH(QByteArray, expected);
        const fs::path before = fs::current_path();
        fs::current_path(m_root);
        QString seen;
        QTimer::singleShot(200, this, [&] {
            auto* dialog = qobject_cast<OpenDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            seen = dialog->directory();
            auto* list = dialog->findChild<QTreeWidget*>("fileList");
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            if (pick.isEmpty())
                return dialog->findChild<QPushButton*>("cancelButton")->click();
            // "folder/name": into the folder from the list, then the name typed.
            const qsizetype slash = pick.indexOf('/');
            if (slash >= 0) {
                doubleClick(list, itemNamed(list, pick.left(slash)));
                name->setText(pick.mid(slash + 1));
            } else {
                list->setCurrentItem(itemNamed(list, pick));
            }
            dialog->findChild<QPushButton*>("openButton")->click();
        });
        const QString chosen = choose_video_file(nullptr);
        fs::current_path(before);
        QCOMPARE(bytesOf(seen),
                 (startsIn.isEmpty() ? m_root : m_root / startsIn.toStdString()).native());
        QCOMPARE(bytesOf(chosen),
                 expected.isEmpty() ? std::string() : (m_root / expected.toStdString()).native());
    }
};

QTEST_MAIN(TestOpenDialog)
#include "test_open_dialog.moc"
