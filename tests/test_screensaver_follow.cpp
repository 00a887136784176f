// The screensaver hold follows the player the same way on every platform: wanted exactly while a
// picture moves, from the moment it is attached until its context goes.
#include "desktop/screensaver_hold.h"
#include "fake_player.h"

#include <QtTest>

#include <memory>

using namespace movarin;

namespace {

class RecordingHold : public ScreenSaverHold {
public:
    QList<bool> wants;
    void want(bool on) override { wants << on; }
};

enum Step { Video, SoundOnly, Paused, AtEnd, Closed };

PlayerState stateFor(Step step) {
    PlayerState s;
    s.path = step == Closed ? QString() : QStringLiteral("/v/clip.flv");
    s.hasVideo = step != SoundOnly;
    s.paused = step == Paused;
    s.atEnd = step == AtEnd;
    return s;
}

} // namespace

class TestScreensaverFollow : public QObject {
    Q_OBJECT
private slots:
    void followsThePicture_data() {
        QTest::addColumn<QList<int>>("steps");
        QTest::addColumn<QList<bool>>("held"); // the last want after attaching, then after each step
        QTest::newRow("a video plays") << QList<int>{Video} << QList<bool>{false, true};
        QTest::newRow("sound alone") << QList<int>{SoundOnly} << QList<bool>{false, false};
        QTest::newRow("pause and go on")
            << QList<int>{Video, Paused, Video} << QList<bool>{false, true, false, true};
        QTest::newRow("the end of a file that does not loop")
            << QList<int>{Video, AtEnd} << QList<bool>{false, true, false};
        QTest::newRow("a video, then a song")
            << QList<int>{Video, SoundOnly, Closed} << QList<bool>{false, true, false, false};
    }
    void followsThePicture() {
        QFETCH(QList<int>, steps);
        QFETCH(QList<bool>, held);
        testing::FakePlayer player;
        RecordingHold hold;
        QObject context;
        hold_while_picture_moves(&player, &context, [&] { return &hold; });
        QList<bool> seen{hold.wants.value(hold.wants.size() - 1)};
        for (int step : steps) {
            player.set(stateFor(Step(step)));
            seen << hold.wants.last();
        }
        QCOMPARE(seen, held);
    }

    // Once the context is gone, the player's changes reach no hold; a null hold is skipped.
    void endsWithItsContext() {
        testing::FakePlayer player;
        RecordingHold hold;
        auto context = std::make_unique<QObject>();
        bool present = false;
        hold_while_picture_moves(&player, context.get(),
                                 [&]() -> ScreenSaverHold* { return present ? &hold : nullptr; });
        QVERIFY(hold.wants.isEmpty());
        present = true;
        player.set(stateFor(Video));
        QCOMPARE(hold.wants.last(), true);
        const qsizetype calls = hold.wants.size();
        context.reset();
        player.set(stateFor(Paused));
        QCOMPARE(hold.wants.size(), calls);
    }
};

QTEST_GUILESS_MAIN(TestScreensaverFollow)
#include "test_screensaver_follow.moc"
