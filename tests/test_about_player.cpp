// The About menu of the player window: modal, placed against the window where it stands, and
// placed anew on every opening.
#include "about/frmabout.h"
#include "about_driver.h"
#include "engine/mpv_engine.h"
#include "test_support.h"
#include "window/frmplayer.h"

#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <functional>

using movarin::frmplayer;
using movarin::PlayerSetup;
using movarin::about::frmabout;

namespace {

using movarin::testing::openAbout;

// Runs the menu command and drives the About window from inside it. True when the command
// returned without the watchdog.
bool clickAbout(frmplayer& player, const std::function<void(frmabout*)>& drive) {
    return movarin::testing::driveModalAbout(
        &player, [&] { player.mnuabout_Click(); }, drive);
}

} // namespace

class TestAboutPlayer : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void placedAgainstThePlayer();
    void playerTakesNoInputWhileOpen();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<frmplayer> m_player;
};

void TestAboutPlayer::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_player = std::make_unique<frmplayer>(movarin::testing::playerSetupIn(m_dir->path()));
    m_player->setLeft(2900);
    m_player->setTop(2000);
    m_player->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_player.get()));
}

void TestAboutPlayer::cleanup() {
    m_player.reset();
    m_dir.reset();
}

void TestAboutPlayer::placedAgainstThePlayer() {
    // The window as designed: 5700 x 5315 twips at its home position.
    QCOMPARE(m_player->Width(), 5700.f);
    QCOMPARE(m_player->Height(), 5315.f);

    QPointer<frmabout> first;
    QPoint firstPos;
    QVERIFY(clickAbout(*m_player, [&](frmabout* about) {
        first = about;
        firstPos = about->pos();
        QCOMPARE(about->parentWidget(), m_player.get());
        QVERIFY(about->isModal());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    }));
    // 2850 + 2900 - 2797.5 = 2952.5 and 2657.5 + 2000 - 1425 + 250 = 3482.5 twips.
    QCOMPARE(firstPos, QPoint(197, 232));
    QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 5000);

    m_player->setLeft(6000);
    m_player->setTop(4500);
    QPoint secondPos;
    QVERIFY(clickAbout(*m_player, [&](frmabout* about) {
        secondPos = about->pos();
        QTest::mouseClick(about->windowHandle(), Qt::LeftButton, {}, QPoint(200, 50));
    }));
    // 6052.5 and 5982.5 twips.
    QCOMPARE(secondPos, QPoint(404, 399));

    // Nothing went wrong, so nothing was logged.
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("log.txt"))));
}

void TestAboutPlayer::playerTakesNoInputWhileOpen() {
    QSignalSpy triggered(m_player->mnuabout, &QAction::triggered);
    QMenuBar* bar = m_player->menuBar();
    const QPoint onAbout =
        bar->mapTo(m_player.get(), bar->actionGeometry(m_player->mnuabout).center());

    bool otherAboutOpened = false;
    QVERIFY(clickAbout(*m_player, [&](frmabout* about) {
        // Through the window system, as a user's click would come, to the menu item itself.
        QTest::mouseClick(m_player->windowHandle(), Qt::LeftButton, {}, onAbout);
        QTest::qWait(200);
        otherAboutOpened = openAbout() != about;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    }));
    QVERIFY(!otherAboutOpened);
    QCOMPARE(triggered.count(), 0);

    // With no About window open the same click does reach the menu: it opens the window, which
    // a timer then closes.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (frmabout* about = openAbout()) {
            if (QApplication::focusWidget() == about->cmdok)
                QTest::keyClick(about->cmdok, Qt::Key_Return);
            else if (closer.property("ticks").toInt() > 50)
                about->done(QDialog::Rejected);
        }
        closer.setProperty("ticks", closer.property("ticks").toInt() + 1);
    });
    closer.start(100);
    QTest::mouseClick(m_player->windowHandle(), Qt::LeftButton, {}, onAbout);
    QTRY_COMPARE_WITH_TIMEOUT(triggered.count(), 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(openAbout() == nullptr, 10000);
}

QTEST_MAIN(TestAboutPlayer)
#include "test_about_player.moc"
