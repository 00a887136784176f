#include "about/frmabout.h"
#include "about/placement.h"
#include "about_driver.h"
#include "common/twips.h"

#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QToolTip>
#include <QWindow>
#include <QtTest>

#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>

using namespace movarin::about;

namespace {

constexpr char kCloseTip[] = "To close the current screen";

// The owner used by the window tests: the example rectangle, at 15 twips to the pixel.
const OwnerTwips kExampleOwner{2900, 2000, 6000, 5400};

using movarin::testing::openAbout;

struct ModalRun {
    bool returned = false;
    bool watchdogFired = false;
};

// Shows the About window the way the menu does and drives it from inside its modal loop.
ModalRun runModal(QWidget* owner, const OwnerTwips& rect,
                  const std::function<void(frmabout*)>& drive) {
    ModalRun run;
    run.watchdogFired = !movarin::testing::driveModalAbout(
        owner, [&] { show_about(owner, rect, 15, 15); }, drive);
    run.returned = true;
    return run;
}

void keyToFocus(Qt::Key key) {
    QWidget* focus = QApplication::focusWidget();
    QVERIFY(focus);
    QTest::keyClick(focus, key);
}

} // namespace

class TestAbout : public QObject {
    Q_OBJECT
private slots:
    void placement_data();
    void placement();
    void pixels_data();
    void pixels();
    void pixelsOutOfRange_data();
    void pixelsOutOfRange();

    void layout();
    void placedOnLoad();
    void failedPlacementStaysWhereItStands();
    void closing_data();
    void closing();
    void escapeDoesNotClose();
    void rightClickDoesNotClose();
    void tooltipAfterFirstMove();
};

void TestAbout::placement_data() {
    QTest::addColumn<float>("left");
    QTest::addColumn<float>("top");
    QTest::addColumn<float>("width");
    QTest::addColumn<float>("height");
    QTest::addColumn<float>("expectedLeft");
    QTest::addColumn<float>("expectedTop");

    QTest::newRow("example") << 2900.f << 2000.f << 6000.f << 5400.f << 3102.5f << 3525.f;
    QTest::newRow("player at the origin, no size")
        << 0.f << 0.f << 0.f << 0.f << -2797.5f << -1175.f;
    // The window is not pulled back onto the screen.
    QTest::newRow("owner off the top-left")
        << -9000.f << -6000.f << 5700.f << 5315.f << -8947.5f << -4517.5f;
    QTest::newRow("owner far right and low")
        << 30000.f << 20000.f << 5700.f << 5315.f << 30052.5f << 21482.5f;
    QTest::newRow("odd owner width gives half twips")
        << 100.f << 100.f << 4801.f << 3001.f << -297.f << 425.5f;
}

void TestAbout::placement() {
    QFETCH(float, left);
    QFETCH(float, top);
    QFETCH(float, width);
    QFETCH(float, height);
    const TwipsPoint p = form_load_position({left, top, width, height});
    QTEST(p.left, "expectedLeft");
    QTEST(p.top, "expectedTop");
}

void TestAbout::pixels_data() {
    QTest::addColumn<float>("twips");
    QTest::addColumn<double>("tpp");
    QTest::addColumn<int>("expected");

    QTest::newRow("example left") << 3102.5f << 15.0 << 207;
    QTest::newRow("example top") << 3525.f << 15.0 << 235;
    QTest::newRow("half a pixel rounds up") << 7.5f << 15.0 << 1;
    QTest::newRow("half a pixel below zero rounds down") << -2797.5f << 15.0 << -187;
    QTest::newRow("120 dots per inch") << 3102.5f << 12.0 << 259;
    QTest::newRow("form width") << kFormWidth << 15.0 << 373;
    QTest::newRow("form height") << kFormHeight << 15.0 << 190;
}

void TestAbout::pixels() {
    QFETCH(float, twips);
    QFETCH(double, tpp);
    QTEST(movarin::twips::to_pixels(twips, tpp), "expected");
}

void TestAbout::pixelsOutOfRange_data() {
    QTest::addColumn<float>("twips");
    QTest::addColumn<double>("tpp");

    QTest::newRow("infinite") << std::numeric_limits<float>::infinity() << 15.0;
    QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << 15.0;
    QTest::newRow("huge") << 1e30f << 15.0;
    QTest::newRow("hugely negative") << -1e30f << 15.0;
    QTest::newRow("no twips per pixel") << 100.f << 0.0;
}

void TestAbout::pixelsOutOfRange() {
    QFETCH(float, twips);
    QFETCH(double, tpp);
    QVERIFY_THROWS_EXCEPTION(std::overflow_error, movarin::twips::to_pixels(twips, tpp));
}

void TestAbout::layout() {
    QWidget owner;
    frmabout about(&owner, 15, 15);

    QCOMPARE(about.size(), QSize(373, 190));
    QVERIFY(about.windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(about.windowType(), Qt::Dialog);
    QCOMPARE(about.parentWidget(), &owner);
    QCOMPARE(about.windowModality(), Qt::ApplicationModal);
    QCOMPARE(about.Width(), 5595.f);
    QCOMPARE(about.Height(), 2850.f);

    QCOMPARE(about.Image1->geometry(), QRect(0, 0, 373, 190));
    QCOMPARE(about.Image1->pixmap().size(), QSize(373, 190));
    QCOMPARE(about.Image1->cursor().shape(), Qt::ArrowCursor);

    QCOMPARE(about.imgok->geometry(), QRect(341, 168, 32, 21));
    const QImage ok = about.imgok->pixmap().toImage();
    QCOMPARE(ok.size(), QSize(32, 21));
    for (const QPoint corner : {QPoint(0, 0), QPoint(31, 0), QPoint(0, 20), QPoint(31, 20)})
        QCOMPARE(qAlpha(ok.pixel(corner)), 0);
    QCOMPARE(qAlpha(ok.pixel(16, 10)), 255);
    QCOMPARE(about.imgok->cursor().shape(), Qt::BitmapCursor);
    QCOMPARE(about.imgok->cursor().pixmap().size(), QSize(32, 32));
    QVERIFY(about.imgok->toolTip().isEmpty());

    QCOMPARE(about.cmdok->text(), QStringLiteral("ok"));
    QCOMPARE(about.cmdok->geometry(), QRect(328, 240, 33, 25));
    QVERIFY(!about.rect().intersects(about.cmdok->geometry()));
    QVERIFY(!about.cmdok->isDefault());
    // The OK picture lies over the main picture.
    QVERIFY(about.children().indexOf(about.imgok) > about.children().indexOf(about.Image1));
}

void TestAbout::placedOnLoad() {
    QWidget owner;
    frmabout about(&owner, 15, 15);
    about.Form_Load(kExampleOwner);
    QCOMPARE(about.Left(), 3102.5f);
    QCOMPARE(about.Top(), 3525.f);
    QCOMPARE(about.pos(), QPoint(207, 235));
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QCOMPARE(about.pos(), QPoint(207, 235));

    // Partly off the screen is where it stays.
    frmabout offScreen(&owner, 15, 15);
    offScreen.Form_Load({-9000, -6000, 5700, 5315});
    QCOMPARE(offScreen.pos(), QPoint(-597, -301));
}

void TestAbout::failedPlacementStaysWhereItStands() {
    QWidget owner;
    constexpr float inf = std::numeric_limits<float>::infinity();

    frmabout nowhere(&owner, 15, 15);
    nowhere.Form_Load({inf, 2000, 6000, 5400});
    QCOMPARE(nowhere.pos(), QPoint(0, 0));
    nowhere.show();
    QVERIFY(QTest::qWaitForWindowExposed(&nowhere));
    QCOMPARE(nowhere.pos(), QPoint(0, 0));

    // Left is already set when the top fails, as it would be step by step.
    frmabout halfway(&owner, 15, 15);
    halfway.Form_Load({2900, 2000, 6000, 1e30f});
    QCOMPARE(halfway.Left(), 3102.5f);
    QCOMPARE(halfway.pos(), QPoint(207, 0));
}

void TestAbout::closing_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("click on the picture") << QStringLiteral("picture");
    QTest::newRow("click near the picture's top-left") << QStringLiteral("corner");
    QTest::newRow("click on the OK picture") << QStringLiteral("ok");
    QTest::newRow("Enter") << QStringLiteral("return");
    QTest::newRow("keypad Enter") << QStringLiteral("enter");
    QTest::newRow("Space") << QStringLiteral("space");
}

void TestAbout::closing() {
    QFETCH(QString, how);
    QWidget owner;
    owner.show();
    std::unique_ptr<QSignalSpy> imageClicks;
    std::unique_ptr<QSignalSpy> okClicks;
    QPointer<frmabout> shown;

    const ModalRun run = runModal(&owner, kExampleOwner, [&](frmabout* about) {
        shown = about;
        imageClicks = std::make_unique<QSignalSpy>(about->Image1, &PictureBox::Click);
        okClicks = std::make_unique<QSignalSpy>(about->imgok, &PictureBox::Click);
        QCOMPARE(QApplication::activeModalWidget(), about);
        QCOMPARE(about->pos(), QPoint(207, 235));
        QCOMPARE(QApplication::focusWidget(), about->cmdok);
        QWindow* window = about->windowHandle();
        if (how == u"picture")
            QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(100, 100));
        else if (how == u"corner")
            QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(1, 1));
        else if (how == u"ok")
            QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(357, 178));
        else if (how == u"return")
            keyToFocus(Qt::Key_Return);
        else if (how == u"enter")
            keyToFocus(Qt::Key_Enter);
        else if (how == u"space")
            keyToFocus(Qt::Key_Space);
    });

    QVERIFY(run.returned);
    QVERIFY(!run.watchdogFired);
    QVERIFY(imageClicks && okClicks);
    QCOMPARE(imageClicks->count(), how == u"picture" || how == u"corner" ? 1 : 0);
    QCOMPARE(okClicks->count(), how == u"ok" ? 1 : 0);
    // Gone once closed: the next opening builds and places it anew.
    QTRY_VERIFY_WITH_TIMEOUT(shown.isNull(), 5000);
}

void TestAbout::escapeDoesNotClose() {
    QWidget owner;
    owner.show();
    bool stayedOpen = false;
    const ModalRun run = runModal(&owner, kExampleOwner, [&](frmabout* about) {
        keyToFocus(Qt::Key_Escape);
        QTest::qWait(200);
        stayedOpen = about->isVisible() && QApplication::activeModalWidget() == about;
        // Escape must not have spoiled the keys that do close it.
        keyToFocus(Qt::Key_Space);
    });
    QVERIFY(run.returned);
    QVERIFY(stayedOpen);
    QVERIFY(!run.watchdogFired);
}

void TestAbout::rightClickDoesNotClose() {
    QWidget owner;
    owner.show();
    bool stayedOpen = false;
    const ModalRun run = runModal(&owner, kExampleOwner, [&](frmabout* about) {
        QTest::mouseClick(about->windowHandle(), Qt::RightButton, {}, QPoint(100, 100));
        QTest::qWait(200);
        stayedOpen = about->isVisible();
        QTest::mouseClick(about->windowHandle(), Qt::LeftButton, {}, QPoint(100, 100));
    });
    QVERIFY(run.returned);
    QVERIFY(stayedOpen);
    QVERIFY(!run.watchdogFired);
}

void TestAbout::tooltipAfterFirstMove() {
    QWidget owner;
    frmabout about(&owner, 15, 15);
    about.Form_Load(kExampleOwner);
    about.show();
    QVERIFY(QTest::qWaitForWindowActive(&about));
    QWindow* window = about.windowHandle();

    // Over the main picture: no tooltip anywhere.
    QTest::mouseMove(window, QPoint(100, 100));
    QTest::qWait(1200);
    QVERIFY(about.imgok->toolTip().isEmpty());
    QVERIFY(!QToolTip::isVisible());

    QTest::mouseMove(window, QPoint(355, 180));
    QCOMPARE(about.imgok->toolTip(), QString::fromLatin1(kCloseTip));
    QTRY_VERIFY_WITH_TIMEOUT(QToolTip::isVisible(), 5000);
    QCOMPARE(QToolTip::text(), QString::fromLatin1(kCloseTip));
    QToolTip::hideText();
}

QTEST_MAIN(TestAbout)
#include "test_about.moc"
