#include "engine/playback_state.h"
#include "engine/player.h"
#include "window/control_bar_state.h"
#include "window/player_actions.h"

#include <QtTest>

#include <cmath>
#include <limits>

using namespace movarin::controls;
using movarin::key_action;
using movarin::player_action_table;
using movarin::PlayerAction;
using movarin::playback::loop_enabled;

Q_DECLARE_METATYPE(PlayerAction)

class TestControlsState : public QObject {
    Q_OBJECT
private slots:
    void formatTime_data();
    void formatTime();
    void playedFraction_data();
    void playedFraction();
    void clampedVolume_data();
    void clampedVolume();
    void fillPixels_data();
    void fillPixels();
    void loopValues();
    void layoutKeepsPartsInOrderAndInside_data();
    void layoutKeepsPartsInOrderAndInside();
    void hitsAndTrackFractions();
    void visibilityTimesOut();
    void visibilityLeaveAndDrag();
    void keys_data();
    void keys();
    void actionTable();
};

void TestControlsState::formatTime_data() {
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("zero") << 0.0 << "0:00";
    QTest::newRow("rounds down") << 4.999 << "0:04";
    QTest::newRow("one minute") << 60.0 << "1:00";
    QTest::newRow("seconds padded") << 65.5 << "1:05";
    QTest::newRow("long minutes") << 3599.9 << "59:59";
    QTest::newRow("one hour") << 3600.0 << "1:00:00";
    QTest::newRow("hours padded") << 3661.0 << "1:01:01";
    QTest::newRow("ten hours") << 36000.0 << "10:00:00";
    QTest::newRow("negative") << -3.0 << "0:00";
    QTest::newRow("nan") << nan << "0:00";
    QTest::newRow("infinite") << inf << "0:00";
}

void TestControlsState::formatTime() {
    QFETCH(double, seconds);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(format_time(seconds)), text);
}

void TestControlsState::playedFraction_data() {
    QTest::addColumn<double>("position");
    QTest::addColumn<double>("duration");
    QTest::addColumn<double>("fraction");
    QTest::newRow("start") << 0.0 << 20.0 << 0.0;
    QTest::newRow("half") << 10.0 << 20.0 << 0.5;
    QTest::newRow("end") << 20.0 << 20.0 << 1.0;
    QTest::newRow("past the end") << 25.0 << 20.0 << 1.0;
    QTest::newRow("before the start") << -1.0 << 20.0 << 0.0;
    QTest::newRow("unknown duration") << 5.0 << 0.0 << 0.0;
    QTest::newRow("nan position") << std::nan("") << 20.0 << 0.0;
}

void TestControlsState::playedFraction() {
    QFETCH(double, position);
    QFETCH(double, duration);
    QFETCH(double, fraction);
    QCOMPARE(played_fraction(position, duration), fraction);
}

void TestControlsState::clampedVolume_data() {
    QTest::addColumn<double>("level");
    QTest::addColumn<double>("result");
    QTest::newRow("inside") << 40.0 << 40.0;
    QTest::newRow("ends stay") << 100.0 << 100.0;
    QTest::newRow("above the scale") << 130.0 << 100.0;
    QTest::newRow("below zero") << -5.0 << 0.0;
    QTest::newRow("nan is silence") << std::nan("") << 0.0;
}

void TestControlsState::clampedVolume() {
    QFETCH(double, level);
    QFETCH(double, result);
    QCOMPARE(clamped_volume(level), result);
}

void TestControlsState::fillPixels_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<double>("fraction");
    QTest::addColumn<double>("ratio");
    QTest::addColumn<int>("pixels");
    QTest::newRow("half") << 200 << 0.5 << 1.0 << 100;
    QTest::newRow("half on a doubled screen") << 200 << 0.5 << 2.0 << 200;
    QTest::newRow("fractional ratio") << 200 << 0.5 << 1.25 << 125;
    QTest::newRow("rounds to the nearer pixel") << 200 << 0.0026 << 1.0 << 1;
    QTest::newRow("under half a pixel is none") << 200 << 0.002 << 1.0 << 0;
    QTest::newRow("past the end") << 200 << 1.5 << 1.0 << 200;
    QTest::newRow("before the start") << 200 << -0.5 << 1.0 << 0;
    QTest::newRow("nan fraction") << 200 << std::nan("") << 1.0 << 0;
    QTest::newRow("no track") << 0 << 0.5 << 1.0 << 0;
    QTest::newRow("no ratio") << 200 << 0.5 << 0.0 << 0;
}

void TestControlsState::fillPixels() {
    QFETCH(int, width);
    QFETCH(double, fraction);
    QFETCH(double, ratio);
    QFETCH(int, pixels);
    QCOMPARE(fill_pixels(width, fraction, ratio), pixels);
}

void TestControlsState::loopValues() {
    QVERIFY(loop_enabled(std::string("inf")));
    QVERIFY(loop_enabled(std::string("yes")));
    QVERIFY(loop_enabled(std::string("3")));
    QVERIFY(!loop_enabled(std::string("no")));
    QVERIFY(!loop_enabled(std::string("0")));
    QVERIFY(!loop_enabled(std::string("")));
    QVERIFY(!loop_enabled(std::string("3x")));
    QVERIFY(loop_enabled(std::int64_t(2)));
    QVERIFY(!loop_enabled(std::int64_t(0)));
}

void TestControlsState::layoutKeepsPartsInOrderAndInside_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("hasTime");
    QTest::addColumn<bool>("hasVolume");
    QTest::newRow("design width") << 380 << true << true;
    QTest::newRow("sample video") << 320 << true << true;
    QTest::newRow("narrow: volume goes first") << 230 << true << false;
    QTest::newRow("narrower: times go too") << 160 << false << false;
}

void TestControlsState::layoutKeepsPartsInOrderAndInside() {
    QFETCH(int, width);
    QFETCH(bool, hasTime);
    QFETCH(bool, hasVolume);
    const int height = 26;
    const BarLayout l = layout_bar(width, height, 70);
    QCOMPARE(!l.time.empty(), hasTime);
    QCOMPARE(!l.volume.empty(), hasVolume);
    QVERIFY(!l.play.empty());
    QVERIFY(l.seek.width >= 48);
    QVERIFY(!l.mute.empty());
    // Left to right without overlap, all within the bar.
    std::vector<Rect> order{l.play};
    if (hasTime)
        order.push_back(l.time);
    order.push_back(l.seek);
    order.push_back(l.mute);
    if (hasVolume)
        order.push_back(l.volume);
    for (std::size_t i = 0; i < order.size(); ++i) {
        QVERIFY(order[i].x >= 0);
        QVERIFY(order[i].x + order[i].width <= width);
        QVERIFY(order[i].y >= 0 && order[i].y + order[i].height <= height);
        if (i > 0)
            QVERIFY2(order[i - 1].x + order[i - 1].width <= order[i].x,
                     qPrintable(QStringLiteral("part %1 overlaps the one before").arg(i)));
    }
}

void TestControlsState::hitsAndTrackFractions() {
    const BarLayout l = layout_bar(320, 26, 70);
    QCOMPARE(part_at(l, 5, 13), BarPart::Play);
    QCOMPARE(part_at(l, l.seek.x + l.seek.width / 2, 13), BarPart::Seek);
    QCOMPARE(part_at(l, l.mute.x + 2, 13), BarPart::Mute);
    QCOMPARE(part_at(l, l.volume.x + 2, 13), BarPart::Volume);
    QCOMPARE(part_at(l, l.time.x + 2, 13), BarPart::None);
    QCOMPARE(part_at(l, 5, 26), BarPart::None); // just below the bar
    QCOMPARE(part_at(layout_bar(0, 0, 70), 0, 0), BarPart::None);

    const Rect track{100, 0, 101, 26};
    QCOMPARE(fraction_on(track, 100), 0.0);
    QCOMPARE(fraction_on(track, 150), 0.5);
    QCOMPARE(fraction_on(track, 200), 1.0);
    QCOMPARE(fraction_on(track, 20), 0.0);
    QCOMPARE(fraction_on(track, 900), 1.0);
    QCOMPARE(fraction_on(Rect{}, 10), 0.0);
}

void TestControlsState::visibilityTimesOut() {
    BarVisibility v;
    QCOMPARE(v.hideAfter(), std::int64_t(2000));
    QVERIFY(!v.visible(0));
    QCOMPARE(v.msUntilHide(0), std::int64_t(-1));

    v.activity(1000);
    QVERIFY(v.visible(1000));
    QVERIFY(v.visible(2999));
    QCOMPARE(v.msUntilHide(2500), std::int64_t(500));
    QVERIFY(!v.visible(3000));
    QCOMPARE(v.msUntilHide(3500), std::int64_t(0));

    // Each movement starts the time-out again.
    v.activity(2500);
    QVERIFY(v.visible(4000));
    QVERIFY(!v.visible(4500));
}

void TestControlsState::visibilityLeaveAndDrag() {
    BarVisibility v(2000);
    v.activity(0);
    v.left();
    QVERIFY(!v.visible(1));

    // A held button keeps the bar however long, and even past a leave; the time-out then
    // starts at the release.
    v.pressed(100);
    QVERIFY(v.visible(60'000));
    QCOMPARE(v.msUntilHide(60'000), std::int64_t(-1));
    v.left();
    QVERIFY(v.visible(60'000));
    v.released(60'000);
    QVERIFY(v.visible(61'999));
    QVERIFY(!v.visible(62'000));
}

void TestControlsState::keys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("ctrlAltMeta");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<bool>("repeat");
    QTest::addColumn<PlayerAction>("action");
    QTest::newRow("space") << int(Qt::Key_Space) << false << false << false
                           << PlayerAction::TogglePause;
    QTest::newRow("held space") << int(Qt::Key_Space) << false << false << true
                                << PlayerAction::None;
    QTest::newRow("left") << int(Qt::Key_Left) << false << false << false << PlayerAction::SeekBack;
    QTest::newRow("held right keeps seeking")
        << int(Qt::Key_Right) << false << false << true << PlayerAction::SeekForward;
    QTest::newRow("up") << int(Qt::Key_Up) << false << false << false << PlayerAction::VolumeUp;
    QTest::newRow("down") << int(Qt::Key_Down) << false << false << true
                          << PlayerAction::VolumeDown;
    QTest::newRow("m") << int(Qt::Key_M) << false << false << false << PlayerAction::ToggleMute;
    QTest::newRow("held m") << int(Qt::Key_M) << false << false << true << PlayerAction::None;
    QTest::newRow("home") << int(Qt::Key_Home) << false << false << false << PlayerAction::ToStart;
    QTest::newRow("held home") << int(Qt::Key_Home) << false << false << true << PlayerAction::None;
    QTest::newRow("no key") << 0 << false << false << false << PlayerAction::None;
    QTest::newRow("ctrl+o is the menu's")
        << int(Qt::Key_O) << true << false << false << PlayerAction::None;
    QTest::newRow("alt+m is a mnemonic")
        << int(Qt::Key_M) << true << false << false << PlayerAction::None;
    QTest::newRow("ctrl+left") << int(Qt::Key_Left) << true << false << false << PlayerAction::None;
    QTest::newRow("shift+m") << int(Qt::Key_M) << false << true << false << PlayerAction::None;
    QTest::newRow("other letter") << int(Qt::Key_G) << false << false << false
                                  << PlayerAction::None;
    QTest::newRow("f") << int(Qt::Key_F) << false << false << false << PlayerAction::FullScreen;
    QTest::newRow("f11") << int(Qt::Key_F11) << false << false << false << PlayerAction::FullScreen;
    QTest::newRow("held f") << int(Qt::Key_F) << false << false << true << PlayerAction::None;
    QTest::newRow("escape") << int(Qt::Key_Escape) << false << false << false
                            << PlayerAction::LeaveFullScreen;
    QTest::newRow("enter") << int(Qt::Key_Return) << false << false << false << PlayerAction::None;
}

void TestControlsState::keys() {
    QFETCH(int, key);
    QFETCH(bool, ctrlAltMeta);
    QFETCH(bool, shift);
    QFETCH(bool, repeat);
    QFETCH(PlayerAction, action);
    QCOMPARE(key_action(key, ctrlAltMeta, shift, repeat), action);
}

// Each key and each name stands for one action only.
void TestControlsState::actionTable() {
    QSet<QString> names;
    QSet<int> keys;
    for (const auto& row : player_action_table()) {
        // Each acts on the player or on the view, never on both or neither.
        QVERIFY2(bool(row.act) != bool(row.viewAct) && !names.contains(row.name), row.name);
        names.insert(row.name);
        if (!row.key)
            continue;
        QVERIFY2(!keys.contains(row.key), row.name);
        keys.insert(row.key);
        QCOMPARE(key_action(row.key, false, false, false), row.id);
    }
    QCOMPARE(keys.size(), 9);
}

QTEST_APPLESS_MAIN(TestControlsState)
#include "test_controls_state.moc"
