// The player window on a real X server at the scale its run is given (QT_SCALE_FACTOR or
// Xft.dpi): sizes stay in logical pixels, the picture is drawn at device resolution.
#include "about/frmabout.h"
#include "about_driver.h"
#include "app/start_up.h"
#include "test_media.h"
#include "test_support.h"
#include "window/frmplayer.h"
#include "window/playback_controls.h"
#include "window/playback_host.h"

#include <QMenuBar>
#include <QScreen>
#include <QTemporaryDir>
#include <QToolButton>
#include <QWindow>
#include <QtTest>

using namespace movarin;

namespace {

constexpr int kWait = 20000;

bool red(QRgb c) {
    return qRed(c) > 190 && qGreen(c) < 70 && qBlue(c) < 70;
}
bool blue(QRgb c) {
    return qBlue(c) > 190 && qRed(c) < 70 && qGreen(c) < 70;
}

// The red and blue picture's extent in `image`.
QRect pictureIn(const QImage& image) {
    QRect found;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (const QRgb c = image.pixel(x, y); red(c) || blue(c))
                found |= QRect(x, y, 1, 1);
    return found;
}

bool inside(const QWidget* child, const QWidget* parent) {
    return QRect(QPoint(0, 0), parent->size()).contains(child->geometry());
}

} // namespace

class TestScaled : public QObject {
    Q_OBJECT
    QTemporaryDir m_media;
    QTemporaryDir m_appDir;
    QString m_video;

private slots:
    void initTestCase() {
        use_c_numeric_locale();
        m_video = testing::makeRedBlueFlv(m_media.path());
        QVERIFY(!m_video.isEmpty());
        // The run says what scale its settings must give: settings that do not take effect
        // must not pass as scale 1.
        QCOMPARE(qApp->devicePixelRatio(), qEnvironmentVariable("EXPECTED_SCALE").toDouble());
    }

    void logicalSizesDevicePicture() {
        const double scale = qApp->devicePixelRatio();
        // The screen's own twips per pixel: in logical pixels, 15 whatever the scale.
        auto w = std::make_unique<frmplayer>(testing::playerSetupIn(m_appDir.path(), 0));
        w->Form_Load(m_video);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QTRY_COMPARE_WITH_TIMEOUT(w->centralWidget()->size(), QSize(320, 240), kWait);
        QCOMPARE(w->Width(), 4800.0f);
        QCOMPARE(w->Height(), 4250.0f);
        QCOMPARE(w->windowHandle()->devicePixelRatio(), scale);
        const QSize device(qRound(320 * scale), qRound(240 * scale));
        // Drawn once, by the engine, at the device size; then painted one to one.
        QCOMPARE(w->player->currentPicture().size(), device);

        // What the X server holds: the picture at the device size, sharp where red meets blue.
        QImage shot;
        QRect picture;
        QTRY_VERIFY_WITH_TIMEOUT(
            (shot = w->screen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32),
             picture = pictureIn(shot), picture.size() == device),
            kWait);
        int blended = 0;
        for (int x = picture.left(); x <= picture.right(); ++x) {
            const QRgb c = shot.pixel(x, picture.center().y());
            blended += red(c) || blue(c) ? 0 : 1;
        }
        // The engine's one scaling blurs the edge over a few source pixels' width; a second
        // one of Qt's would widen it.
        QVERIFY2(blended <= qCeil(4 * scale), qPrintable(QString::number(blended)));

        // The menu bar shows every item, none pushed into the overflow button.
        QMenuBar* bar = w->menuBar();
        for (QAction* a : bar->actions())
            QVERIFY2(bar->rect().contains(bar->actionGeometry(a)), qPrintable(a->text()));
        if (auto* more = bar->findChild<QToolButton*>(QStringLiteral("qt_menubar_ext_button")))
            QVERIFY(!more->isVisible());

        // The control bar lies whole over the picture.
        PlaybackControls* controls = w->player->controls();
        controls->setPinned(true);
        QTRY_VERIFY_WITH_TIMEOUT(controls->isVisible(), kWait);
        QVERIFY(inside(controls, w->player));
        QVERIFY(controls->height() >= controls->fontMetrics().height());

        // The About window: its picture covers it exactly, its button picture lies inside.
        QVERIFY(testing::driveModalAbout(
            this, [&] { w->mnuabout->trigger(); },
            [&](about::frmabout* about) {
                QCOMPARE(about->Image1->geometry(), about->rect());
                QVERIFY(inside(about->imgok, about));
                QVERIFY(about->imgok->isVisible());
                about->done(QDialog::Accepted);
            }));
        QVERIFY(testing::logOf(m_appDir.path()).isEmpty());
    }
};

QTEST_MAIN(TestScaled)
#include "test_scaled.moc"
