// The player window end to end under the offscreen platform, with the real engine.
#include "app/start_up.h"
#include "engine/mpv_engine.h"
#include "engine/path_bytes.h"
#include "log/error_log.h"
#include "test_media.h"
#include "test_support.h"
#include "window/frmplayer.h"
#include "window/playback_controls.h"
#include "window/playback_host.h"

#include <QAbstractItemView>
#include <QAction>
#include <QDialog>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QUrl>
#include <QWindow>
#include <QtTest>

#include <filesystem>
#include <memory>

using namespace movarin;

namespace {

constexpr int kWait = 20000;

QString logText(const QString& dir) {
    QFile file(dir + "/log.txt");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

int recordsWith(const QString& log, log::Procedure procedure) {
    return log.count(QString::fromUtf8(log::record_frame(procedure).heading.data(),
                                       qsizetype(log::record_frame(procedure).heading.size())));
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT
    QTemporaryDir m_media;
    QString m_spark, m_h264, m_blanks, m_other, m_fullHd;
    std::unique_ptr<QTemporaryDir> m_appDir;
    QString m_nextChoice;

    std::unique_ptr<frmplayer> makeWindow(double tpp = 15, QStringList options = noSoundOptions()) {
        PlayerSetup setup = testing::playerSetupIn(m_appDir->path(), tpp);
        setup.engineOptions = options;
        setup.chooseFile = [this](QWidget*) { return m_nextChoice; };
        return std::make_unique<frmplayer>(setup);
    }

    static QSize videoArea(const frmplayer& w) { return w.centralWidget()->size(); }

    void drop(frmplayer& window, const QList<QUrl>& urls, bool* accepted = nullptr,
              Qt::DropAction* action = nullptr) {
        QMimeData data;
        if (urls.isEmpty())
            data.setText("just words");
        else
            data.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 40), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &enter);
        if (accepted)
            *accepted = enter.isAccepted();
        QDropEvent event(QPointF(10, 40), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &event);
        if (action)
            *action = event.dropAction();
    }

private slots:
    void initTestCase() {
        use_c_numeric_locale();
        m_spark = testing::makeSparkFlv(m_media.path());
        m_h264 = testing::makeH264Flv(m_media.path(), 1280, 720);
        m_blanks = m_media.filePath("my clip.flv");
        m_other = m_media.filePath("clip.video");
        m_fullHd = testing::makeH264Flv(m_media.path(), 1920, 1080, "fullhd.flv", 1);
        QVERIFY(!m_spark.isEmpty() && !m_h264.isEmpty() && !m_fullHd.isEmpty());
        QVERIFY(QFile::copy(m_spark, m_blanks) && QFile::copy(m_h264, m_other));
    }
    void init() {
        m_appDir = std::make_unique<QTemporaryDir>();
        m_nextChoice.clear();
    }

    void startsEmptyAtHome() {
        auto w = makeWindow();
        w->Form_Load("");
        w->show();
        QCOMPARE(w->Left(), 2900.0f);
        QCOMPARE(w->Top(), 2000.0f);
        QCOMPARE(w->pos(), QPoint(193, 133));
        QCOMPARE(videoArea(*w), QSize(380, 311));
        QCOMPARE(w->player->geometry(), QRect(0, 0, 380, 311));
        QCOMPARE(w->Text1, QString("Text1"));
        QCOMPARE(w->Text2, QString("Text2"));
        QVERIFY(w->player->movie().isEmpty());
        QVERIFY(w->acceptDrops());
        QCOMPARE(w->windowTitle(), QString("Movarin"));
        QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(w->minimumSize(), w->maximumSize());
        QVERIFY(logText(m_appDir->path()).isEmpty());
    }

    void blankTailStillLoads() {
        auto w = makeWindow();
        w->Form_Load("   ");
        QVERIFY(w->player->movie().endsWith("movarin.swf?filename="));
        QVERIFY(w->player->movie().startsWith(m_appDir->path() + "/"));
    }

    void quotedTailWithBlanksPlaysAndFits() {
        auto w = makeWindow();
        w->Form_Load("\"" + m_blanks + "\"");
        w->show();
        QCOMPARE(w->player->movie(), m_appDir->path() + "/movarin.swf?filename=" + m_blanks);
        QTRY_COMPARE_WITH_TIMEOUT(w->Text2, QString("240"), kWait);
        QCOMPARE(w->Text1, QString("320"));
        QCOMPARE(w->Width(), 4800.0f);
        QCOMPARE(w->Height(), 4250.0f);
        QCOMPARE(videoArea(*w), QSize(320, 240));
        QCOMPARE(w->player->geometry(), QRect(0, 0, 320, 240));
        QCOMPARE(w->pos(), QPoint(193, 133));
        QVERIFY(logText(m_appDir->path()).isEmpty());
    }

    void fitsAtOtherScales_data() {
        QTest::addColumn<double>("tpp");
        QTest::addColumn<bool>("large");
        QTest::addColumn<float>("width");
        QTest::addColumn<float>("height");
        QTest::addColumn<QSize>("area");
        QTest::newRow("120 dpi 320x240") << 12.0 << false << 3840.0f << 3530.0f << QSize(320, 240);
        QTest::newRow("96 dpi 1280x720")
            << 15.0 << true << 19200.0f << 11450.0f << QSize(1280, 720);
    }
    void fitsAtOtherScales() {
        QFETCH(double, tpp);
        QFETCH(bool, large);
        QFETCH(float, width);
        QFETCH(float, height);
        QFETCH(QSize, area);
        auto w = makeWindow(tpp);
        w->Form_Load(large ? m_h264 : m_spark);
        w->show();
        QTRY_COMPARE_WITH_TIMEOUT(videoArea(*w), area, kWait);
        QCOMPARE(w->Width(), width);
        QCOMPARE(w->Height(), height);
        QCOMPARE(w->player->size(), area);
        QCOMPARE(w->Left(), 2900.0f);
    }

    void menu() {
        auto w = makeWindow();
        const QList<QAction*> bar = w->menuBar()->actions();
        QStringList captions;
        for (QAction* a : bar)
            captions << a->text();
        QCOMPARE(captions, (QStringList{"&File", "&About", "&Update", "&View Website"}));
        QVERIFY(bar.at(0)->menu() != nullptr);
        for (int i = 1; i < bar.size(); ++i)
            QVERIFY(bar.at(i)->menu() == nullptr);
        const QList<QAction*> file = bar.at(0)->menu()->actions();
        QCOMPARE(file.size(), 2);
        QCOMPARE(file.at(0)->text(), QString("&Open"));
        QCOMPARE(file.at(0)->shortcut(), QKeySequence("Ctrl+O"));
        QCOMPARE(file.at(1)->text(), QString("&Exit"));
        QCOMPARE(file.at(1)->shortcut(), QKeySequence("Ctrl+E"));
        for (QAction* a : bar + file)
            QVERIFY(!a->isCheckable() && a->isEnabled() && a->isVisible());
    }

    // Every title stands on the menu bar whatever the video's width: the window is never
    // narrower than the bar, and the picture keeps its exact size in the top-left corner.
    void menuBarWholeOnAnyWidth_data() {
        QTest::addColumn<QSize>("video");
        QTest::newRow("128x96") << QSize(128, 96);
        QTest::newRow("1x1") << QSize(1, 1);
        QTest::newRow("narrow and tall") << QSize(40, 300);
        QTest::newRow("just the bar's width") << QSize(0, 50); // 0: the bar's width
        QTest::newRow("320x240") << QSize(320, 240);
    }
    void menuBarWholeOnAnyWidth() {
        QFETCH(QSize, video);
        auto w = makeWindow();
        w->Form_Load("");
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QMenuBar* bar = w->menuBar();
        const int barWidth = bar->sizeHint().width();
        if (video.width() == 0)
            video.setWidth(barWidth);
        w->player_FSCommand("actualsizewidth", QString::number(video.width()));
        w->player_FSCommand("actualsizeheight", QString::number(video.height()));
        QCOMPARE(w->player->geometry(), QRect(QPoint(0, 0), video));
        QTRY_COMPARE(w->width(), std::max(video.width(), barWidth));
        QCOMPARE(videoArea(*w).height(), video.height());
        QCOMPARE(w->Width(), float(video.width() * 15));
        QCOMPARE(w->Height(), float(video.height() * 15 + 650));
        QTRY_COMPARE(bar->width(), w->width());
        for (QAction* a : bar->actions()) {
            const QRect at = bar->actionGeometry(a);
            QVERIFY2(!at.isEmpty() && bar->rect().contains(at), qPrintable(a->text()));
        }
        // Qt's overflow button ("»") would hide the titles that do not fit.
        for (QWidget* child : bar->findChildren<QWidget*>())
            QVERIFY2(!child->isVisible() || child->inherits("QMenu"),
                     qPrintable(child->objectName()));
        QCOMPARE(w->minimumSize(), w->maximumSize());
    }

    void exitEndsAtOnce_data() {
        QTest::addColumn<int>("way");
        QTest::newRow("File > Exit") << 0;
        QTest::newRow("Ctrl+E") << 1;
        QTest::newRow("close button") << 2;
    }
    void exitEndsAtOnce() {
        QFETCH(int, way);
        auto w = makeWindow();
        w->Form_Load(m_spark);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        if (way == 0)
            w->mnuExit->trigger();
        else if (way == 1)
            QTest::keyClick(w.get(), Qt::Key_E, Qt::ControlModifier);
        else
            w->close();
        QVERIFY(!w->isVisible());
        QVERIFY(logText(m_appDir->path()).isEmpty());
    }

    void playFileFailureWritesOneRecordAndStays() {
        auto w = makeWindow(15, {"no-such-engine-option=1"});
        w->Form_Load("");
        w->setLeft(1500);
        w->setTop(700);
        w->play_file(m_spark);
        QCOMPARE(w->Left(), 1500.0f);
        QCOMPARE(w->Top(), 700.0f);
        const QString log = logText(m_appDir->path());
        QCOMPARE(recordsWith(log, log::Procedure::PlayFile), 1);
        QCOMPARE(log.count("\r\n"), 2);
        QVERIFY(log.contains(QString(27, u'-') + "\r\n"));
    }

    void unplayableFileIsNotLogged() {
        auto w = makeWindow();
        w->Form_Load(m_media.filePath("missing.flv"));
        w->show();
        QTRY_VERIFY_WITH_TIMEOUT(!w->player->failureText().isEmpty(), kWait);
        QVERIFY(logText(m_appDir->path()).isEmpty());
        QCOMPARE(w->Left(), 2900.0f);
    }

    void sizeMessages() {
        auto w = makeWindow();
        w->Form_Load("");
        const QSize design = videoArea(*w);
        // A zero width is taken by the host but does not refit.
        w->player_FSCommand("actualsizewidth", "0");
        QCOMPARE(w->Text1, QString("0"));
        QCOMPARE(w->player->width(), 0);
        w->player_FSCommand("actualsizeheight", "240");
        QCOMPARE(videoArea(*w), design);

        // Height first, blanks around, then width: fits once both are known.
        w->player_FSCommand("actualsizeheight", "  200 ");
        QCOMPARE(w->Text2, QString("200"));
        w->player_FSCommand("ActualSizeWidth", "500"); // other command: changes nothing
        QCOMPARE(w->Text1, QString("0"));
        w->player_FSCommand("actualsizewidth", " 300");
        QCOMPARE(videoArea(*w), QSize(300, 200));
        QCOMPARE(w->Height(), 200 * 15 + 650.0f);

        // A repeated width refits at once; another command refits to the same.
        w->player_FSCommand("actualsizewidth", "400");
        QCOMPARE(videoArea(*w), QSize(400, 200));
        w->player_FSCommand("something", "x");
        QCOMPARE(videoArea(*w), QSize(400, 200));
        QCOMPARE(w->Left(), 2900.0f);
        QVERIFY(logText(m_appDir->path()).isEmpty());

        // A non-number fails before anything changes: one record, nothing else.
        w->player_FSCommand("actualsizewidth", "wide");
        QCOMPARE(w->Text1, QString("400"));
        QCOMPARE(w->player->width(), 400);
        const QString log = logText(m_appDir->path());
        QCOMPARE(recordsWith(log, log::Procedure::PlayerFSCommand), 1);
        QVERIFY(log.contains("movie: "));
        QVERIFY(log.contains(" " + QString(27, u'-') + "\r\n"));
    }

    void openChoosesAndRefits() {
        auto w = makeWindow();
        w->Form_Load(m_h264);
        w->show();
        QTRY_COMPARE_WITH_TIMEOUT(videoArea(*w), QSize(1280, 720), kWait);
        w->setLeft(100);
        m_nextChoice = "  " + m_spark + " ";
        w->mnuopen->trigger();
        QCOMPARE(w->txtfile, "  " + m_spark + " ");
        QCOMPARE(w->player->movie(), m_appDir->path() + "/movarin.swf?filename=" + m_spark);
        QCOMPARE(w->Left(), 2900.0f);
        QTRY_COMPARE_WITH_TIMEOUT(videoArea(*w), QSize(320, 240), kWait);
        QCOMPARE(w->Text1, QString("320"));
    }

    void openCancelKeepsPlaying() {
        auto w = makeWindow();
        w->Form_Load(m_spark);
        w->show();
        QTRY_COMPARE_WITH_TIMEOUT(w->Text2, QString("240"), kWait);
        const QString before = w->player->movie();
        w->setLeft(100);
        w->setTop(50);
        w->txtfile = "old";
        m_nextChoice.clear();
        w->mnuopen_Click();
        QCOMPARE(w->txtfile, QString());
        QCOMPARE(w->Text1, QString());
        QCOMPARE(w->Text2, QString());
        QCOMPARE(w->player->movie(), before);
        QCOMPARE(w->Left(), 100.0f);
        QCOMPARE(w->Top(), 50.0f);
        QCOMPARE(w->player->player()->path(), m_spark);
        QVERIFY(logText(m_appDir->path()).isEmpty());
    }

    // The real dialog, as a user answers it with a typed name that names no file.
    void openTakesTypedNameThatDoesNotExist() {
        PlayerSetup setup = testing::playerSetupIn(m_appDir->path());
        setup.chooseFile = nullptr;
        frmplayer w(setup);
        w.Form_Load("");
        w.show();
        const QString typed = m_media.filePath("no such clip.flv");
        bool boxShown = false;
        QTimer::singleShot(500, &w, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            QVERIFY(name);
            name->setText(typed);
            // A refusal shows a box of its own (modal too): note it and close both.
            QTimer::singleShot(800, &w, [&] {
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    boxShown = true;
                    box->done(QMessageBox::Ok);
                }
                QTimer::singleShot(200, &w, [] {
                    if (auto* open = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                        open->reject();
                });
            });
            QTest::keyClick(name, Qt::Key_Return);
        });
        w.mnuopen_Click();
        QVERIFY(!boxShown);
        QCOMPARE(w.txtfile, typed);
        QCOMPARE(w.player->movie(), m_appDir->path() + "/movarin.swf?filename=" + typed);
        QTRY_COMPARE_WITH_TIMEOUT(w.player->failureText(), QString("Cannot play no such clip.flv"),
                                  kWait);
    }

    // The real dialog, as a user opens a file whose name is not UTF-8: type its folder, pick
    // it from the list by the name shown, press Open. Only the widgets' names and kinds are
    // assumed, so the same steps run against any dialog that keeps them.
    void openPlaysNameThatIsNotUtf8() {
        const QString folder = m_media.filePath("to open");
        QVERIFY(QDir().mkpath(folder));
        const std::string raw = QFile::encodeName(folder).toStdString() + "/caf\xe9.flv";
        // A name QTemporaryDir cannot spell, so it cannot remove it either.
        struct Remove {
            std::string path;
            ~Remove() { std::filesystem::remove(path); }
        } remove{raw};
        QVERIFY(std::filesystem::copy_file(MOVARIN_SOURCE_DIR "/samples/sample.flv", raw));
        // A neighbour that any dialog lists, so an empty list cannot pass for a missing name.
        QVERIFY(QFile::copy(m_spark, folder + "/neighbour.flv"));
        PlayerSetup setup = testing::playerSetupIn(m_appDir->path());
        setup.chooseFile = nullptr;
        frmplayer w(setup);
        w.Form_Load("");
        w.show();
        QString problem = "no modal dialog showed";
        QTimer::singleShot(300, &w, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            const auto give_up = [&](const QString& why) {
                problem = why;
                dialog->reject();
            };
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            if (!name)
                return give_up("no file-name field");
            name->setText(folder);
            QTest::keyClick(name, Qt::Key_Return);
            // Look for the name as shown in whichever list the dialog shows, a while.
            const QString shown = QString::fromUtf8("caf\ufffd.flv");
            QAbstractItemView* list = nullptr;
            QModelIndex item;
            QStringList seen;
            const bool listed = QTest::qWaitFor(
                [&] {
                    seen.clear();
                    for (auto* view : dialog->findChildren<QAbstractItemView*>()) {
                        if (!view->isVisible() || !view->model())
                            continue;
                        const QModelIndex root = view->rootIndex();
                        for (int row = 0; row < view->model()->rowCount(root); ++row) {
                            const QModelIndex at = view->model()->index(row, 0, root);
                            seen << at.data().toString();
                            if (seen.back() == shown) {
                                list = view;
                                item = at;
                            }
                        }
                    }
                    return list != nullptr;
                },
                5000);
            if (!listed)
                return give_up(shown + " is not listed; the list holds: " + seen.join(", "));
            list->setCurrentIndex(item);
            if (name->text() != shown)
                return give_up("the field shows \"" + name->text() + "\"");
            QPushButton* open = nullptr;
            for (auto* button : dialog->findChildren<QPushButton*>()) {
                if (button->text().remove('&') == "Open")
                    open = button;
            }
            if (!open)
                return give_up("no Open button");
            problem.clear();
            QTest::mouseClick(open, Qt::LeftButton);
        });
        w.mnuopen_Click();
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(QByteArray::fromStdString(to_path_bytes(w.txtfile)),
                 QByteArray::fromStdString(raw));
        QCOMPARE(QByteArray::fromStdString(to_path_bytes(w.player->movie())),
                 QFile::encodeName(m_appDir->path()) +
                     "/movarin.swf?filename=" + QByteArray::fromStdString(raw));
        QTRY_VERIFY_WITH_TIMEOUT(
            w.player->player() && to_path_bytes(w.player->player()->path()) == raw, kWait);
        // It plays: the size is reported and the window fits it.
        QTRY_COMPARE_WITH_TIMEOUT(w.Text2, QString("240"), kWait);
        QCOMPARE(w.Text1, QString("320"));
        QTRY_COMPARE_WITH_TIMEOUT(videoArea(w), QSize(320, 240), kWait);
        QVERIFY(w.player->failureText().isEmpty());
        QVERIFY(logText(m_appDir->path()).isEmpty());
    }

    void dropOneFile() {
        auto w = makeWindow();
        w->Form_Load(m_spark);
        w->show();
        QTRY_COMPARE_WITH_TIMEOUT(w->Text1, QString("320"), kWait);
        w->txtfile = "kept";
        w->setLeft(0);
        bool accepted = false;
        Qt::DropAction action = Qt::CopyAction;
        // Not an .flv name: it loads all the same.
        drop(*w, {QUrl::fromLocalFile(m_other)}, &accepted, &action);
        QVERIFY(accepted);
        QCOMPARE(action, Qt::IgnoreAction);
        QCOMPARE(w->player->movie(), m_appDir->path() + "/movarin.swf?filename=" + m_other);
        QCOMPARE(w->Left(), 2900.0f);
        QCOMPARE(w->txtfile, QString("kept"));
        QCOMPARE(w->Text1, QString("320"));
        QTRY_COMPARE_WITH_TIMEOUT(videoArea(*w), QSize(1280, 720), kWait);
    }

    // A name that is not UTF-8 arrives percent-encoded and plays byte for byte.
    void dropNameThatIsNotUtf8() {
        const QByteArray name = QFile::encodeName(m_media.path()) + "/caf\xe9.flv";
        const std::filesystem::path raw(name.toStdString());
        QVERIFY(std::filesystem::copy_file(m_spark.toStdString(), raw));
        auto w = makeWindow();
        w->Form_Load("");
        QMimeData data;
        data.setData("text/uri-list", "file://" + name.toPercentEncoding("/") + "\r\n");
        QDragEnterEvent enter(QPoint(10, 40), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(w.get(), &enter);
        QDropEvent event(QPointF(10, 40), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w.get(), &event);
        QVERIFY(w->player->movie().endsWith("filename=" + from_path_bytes(name.toStdString())));
        QTRY_VERIFY_WITH_TIMEOUT(
            w->player->player() && to_path_bytes(w->player->player()->path()) == name.toStdString(),
            kWait);
        std::filesystem::remove(raw); // a name QTemporaryDir cannot spell
    }

    void dropSeveralPlaysFirst() {
        auto w = makeWindow();
        w->Form_Load("");
        drop(*w, {QUrl::fromLocalFile(m_blanks), QUrl::fromLocalFile(m_h264)});
        QCOMPARE(w->player->movie(), m_appDir->path() + "/movarin.swf?filename=" + m_blanks);
        QTRY_COMPARE_WITH_TIMEOUT(w->player->player()->path(), m_blanks, kWait);
    }

    // Run on more than one screen size: a video that fits from the home position keeps its
    // natural size, a larger one the largest size of its shape that does; home either way.
    void fitsTheScreen_data() {
        QTest::addColumn<int>("video");
        QTest::addColumn<QSize>("natural");
        QTest::newRow("320x240") << 0 << QSize(320, 240);
        QTest::newRow("1280x720") << 1 << QSize(1280, 720);
        QTest::newRow("1920x1080") << 2 << QSize(1920, 1080);
    }
    void fitsTheScreen() {
        QFETCH(int, video);
        QFETCH(QSize, natural);
        auto w = makeWindow();
        w->show();
        w->Form_Load(QStringList{m_spark, m_h264, m_fullHd}.at(video));
        QTRY_COMPARE_WITH_TIMEOUT(w->Text2, QString::number(natural.height()), kWait);
        QTest::qWait(100);
        const QRect room = w->screen()->availableGeometry();
        const QSize area = videoArea(*w);
        QCOMPARE(w->pos(), QPoint(193, 133));
        const int menu = w->menuBar()->height();
        // The frame as the window system reports it (the offscreen platform draws one too).
        const QMargins frame = w->windowHandle()->frameMargins();
        const QSize fromHome(room.right() + 1 - 193 - frame.left() - frame.right(),
                             room.bottom() + 1 - 133 - frame.top() - frame.bottom() - menu);
        if (natural.width() <= fromHome.width() && natural.height() <= fromHome.height()) {
            QCOMPARE(area, natural);
        } else {
            QVERIFY2(room.contains(w->frameGeometry()),
                     qPrintable(QString("%1x%2").arg(area.width()).arg(area.height())));
            // The larger of the two sides touches the room's edge; the shape stays within a
            // pixel's rounding.
            QVERIFY(area.width() == fromHome.width() || area.height() == fromHome.height());
            QVERIFY(std::abs(area.width() * natural.height() - area.height() * natural.width()) <=
                    natural.width());
        }
        QCOMPARE(w->player->size(), area);
        QCOMPARE(w->Width(), float(area.width() * 15));
        QCOMPARE(w->Height(), float(area.height() * 15 + 650));
        QVERIFY(logText(m_appDir->path()).isEmpty());
    }

    // Each way in and out of full screen: the picture letterboxed over the whole screen with
    // the control bar over it, and afterwards the window at its size and place again.
    void fullScreen_data() {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("F, Escape") << "F"
                                   << "Escape";
        QTest::newRow("F, F") << "F"
                              << "F";
        QTest::newRow("F11, F11") << "F11"
                                  << "F11";
        QTest::newRow("double-click twice") << "double-click"
                                            << "double-click";
        QTest::newRow("menu, Escape") << "menu"
                                      << "Escape";
        QTest::newRow("F11, menu") << "F11"
                                   << "menu";
    }
    void fullScreen() {
        QFETCH(QString, in);
        QFETCH(QString, out);
        auto w = makeWindow();
        w->Form_Load(m_h264);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QTRY_COMPARE_WITH_TIMEOUT(w->Text2, QString("720"), kWait);
        const QSize natural = videoArea(*w);
        w->move(150, 90);
        const QRect before = w->geometry();
        auto act = [&](const QString& how) {
            if (how == "F")
                QTest::keyClick(w.get(), Qt::Key_F);
            else if (how == "F11")
                QTest::keyClick(w.get(), Qt::Key_F11);
            else if (how == "Escape")
                QTest::keyClick(w.get(), Qt::Key_Escape);
            else if (how == "double-click")
                QTest::mouseDClick(w->player, Qt::LeftButton, {}, QPoint(40, 40));
            else
                w->player->controls()->fullScreenAction()->trigger();
        };
        act(in);
        QTRY_VERIFY_WITH_TIMEOUT(w->isFullScreen(), kWait);
        const QRect screen = w->screen()->geometry();
        QTRY_COMPARE_WITH_TIMEOUT(w->geometry(), screen, kWait);
        QVERIFY(!w->menuBar()->isVisible());
        QVERIFY(w->player->controls()->fullScreenAction()->isChecked());
        // Letterboxed: as wide or as high as the screen, centred, the shape kept.
        const QRect picture = w->player->geometry();
        QVERIFY(picture.width() == screen.width() || picture.height() == screen.height());
        QVERIFY(std::abs(picture.center().x() - screen.width() / 2) <= 1);
        QVERIFY(std::abs(picture.center().y() - screen.height() / 2) <= 1);
        QVERIFY(std::abs(picture.width() * natural.height() - picture.height() * natural.width()) <=
                natural.width());
        // The bar shows at any movement, over the picture's foot.
        QMouseEvent move(QEvent::MouseMove, QPointF(60, 60),
                         w->player->mapToGlobal(QPointF(60, 60)), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(w->player, &move);
        PlaybackControls* bar = w->player->controls();
        QTRY_VERIFY_WITH_TIMEOUT(bar->isVisible(), kWait);
        QCOMPARE(bar->geometry().bottom(), picture.height() - 1);
        QCOMPARE(bar->width(), picture.width());

        act(out);
        QTRY_VERIFY_WITH_TIMEOUT(!w->isFullScreen(), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(w->geometry(), before, kWait);
        QCOMPARE(videoArea(*w), natural);
        QCOMPARE(w->player->geometry(), QRect(QPoint(0, 0), natural));
        QVERIFY(w->menuBar()->isVisible());
        QVERIFY(!w->player->controls()->fullScreenAction()->isChecked());
        QCOMPARE(w->minimumSize(), w->maximumSize());
        // Escape outside full screen changes nothing.
        QTest::keyClick(w.get(), Qt::Key_Escape);
        QCOMPARE(w->geometry(), before);
        QVERIFY(logText(m_appDir->path()).isEmpty());
    }

    void dropWithoutFileChangesNothing() {
        auto w = makeWindow();
        w->Form_Load("");
        w->setLeft(300);
        bool accepted = true;
        drop(*w, {}, &accepted);
        QVERIFY(!accepted);
        drop(*w, {QUrl("http://example.invalid/a.flv")}, &accepted);
        QVERIFY(!accepted);
        QVERIFY(w->player->movie().isEmpty());
        QCOMPARE(w->Left(), 300.0f);
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
