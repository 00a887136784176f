// The playback host with the real engine: size reports, stretching, replacing, bad paths.
#include "app/start_up.h"
#include "engine/frame_layout.h"
#include "engine/mpv_engine.h"
#include "engine/upright.h"
#include "test_media.h"
#include "window/movie_address.h"
#include "window/playback_controls.h"
#include "window/playback_host.h"

#include <QBackingStore>
#include <QFileInfo>
#include <QPointer>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <memory>
#include <thread>
#include <utility>

using namespace movarin;

namespace {

constexpr int kWait = 20000;

QString addressOf(const QString& path) {
    return QString::fromStdString(movie_address("/opt/movarin", '/', path.toStdString()));
}

bool isRed(QColor c) {
    return c.red() > 200 && c.green() < 70 && c.blue() < 70;
}
bool isBlue(QColor c) {
    return c.blue() > 200 && c.red() < 70 && c.green() < 70;
}
bool isGreen(QColor c) {
    return c.green() > 90 && c.red() < 70 && c.blue() < 70;
}

// The first column of row y from `from` on whose colour passes `is`; -1 for none.
template <typename Is> int firstColumn(const QImage& image, int y, int from, Is is) {
    for (int x = from; x < image.width(); ++x)
        if (is(image.pixelColor(x, y)))
            return x;
    return -1;
}

// Red, blue and a green band at the right edge (160, 152 and 8 of 320 columns), each where the
// picture's width puts it (within the blur of scaling), and the edge column green: no stripe, no
// shift, no stretch.
QString bandsWrong(const QImage& picture) {
    const int w = picture.width();
    // Colour is stored at half the width: an edge between colours is only as sharp as one
    // chroma sample of the source, scaled.
    const int near = 3 + w / 160;
    const auto bluer = [](QColor c) { return c.blue() > c.red(); };
    const auto greener = [](QColor c) { return c.green() * 2 > c.blue(); }; // green is 0,127,0
    for (int y : {0, picture.height() / 2, picture.height() - 1}) {
        const int blue = firstColumn(picture, y, 0, bluer);
        const int green = firstColumn(picture, y, std::max(blue, 0), greener);
        if (!isRed(picture.pixelColor(0, y)) || std::abs(blue - w / 2) > near ||
            std::abs(green - w * 312 / 320) > near || !isGreen(picture.pixelColor(w - 1, y)))
            return QStringLiteral("row %1 of width %2: blue from %3, green from %4, edge %5")
                .arg(y)
                .arg(w)
                .arg(blue)
                .arg(green)
                .arg(picture.pixelColor(w - 1, y).name());
    }
    return {};
}

using Messages = QList<QPair<QString, QString>>;

Messages messagesOf(const QSignalSpy& spy) {
    Messages result;
    for (const auto& call : spy)
        result.append({call.at(0).toString(), call.at(1).toString()});
    return result;
}

} // namespace

class TestHost : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_spark, m_h264, m_redBlue;

private slots:
    void initTestCase() {
        use_c_numeric_locale();
        QVERIFY(m_dir.isValid());
        m_spark = testing::makeSparkFlv(m_dir.path());
        m_h264 = testing::makeH264Flv(m_dir.path(), 1280, 720);
        m_redBlue = testing::makeRedBlueFlv(m_dir.path());
        QVERIFY(!m_spark.isEmpty() && !m_h264.isEmpty() && !m_redBlue.isEmpty());
    }

    void reportsNaturalSizeAndReplaces() {
        PlaybackHost host(noSoundOptions());
        host.resize(380, 311);
        host.show();
        QSignalSpy spy(&host, &PlaybackHost::FSCommand);
        host.setMovie(addressOf(m_spark));
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, kWait);
        QCOMPARE(messagesOf(spy),
                 (Messages{{"actualsizewidth", "320"}, {"actualsizeheight", "240"}}));

        // A second movie replaces the first at once and reports its own size.
        spy.clear();
        host.setMovie(addressOf(m_h264));
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, kWait);
        QCOMPARE(messagesOf(spy),
                 (Messages{{"actualsizewidth", "1280"}, {"actualsizeheight", "720"}}));
        QCOMPARE(host.player()->path(), m_h264);

        // Looping must not report the size again.
        QTest::qWait(2500);
        QCOMPARE(spy.count(), 2);
        QVERIFY(host.player()->looping());
    }

    void stretchesOverWholeExtent_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("wider") << QSize(400, 300);
        QTest::newRow("taller") << QSize(200, 500);
    }
    void stretchesOverWholeExtent() {
        QFETCH(QSize, size);
        PlaybackHost host(noSoundOptions());
        host.resize(size);
        host.show();
        host.setMovie(addressOf(m_redBlue));
        // Rendered in device pixels, so the picture stays sharp on scaled screens.
        const QSize device = (QSizeF(size) * host.devicePixelRatioF()).toSize();
        QTRY_VERIFY_WITH_TIMEOUT(
            host.currentPicture().size() == device &&
                isRed(host.currentPicture().pixelColor(1, device.height() / 2)),
            kWait);
        const QImage frame = host.currentPicture();
        for (int y : {1, device.height() / 2, device.height() - 2}) {
            QVERIFY2(isRed(frame.pixelColor(1, y)), qPrintable(frame.pixelColor(1, y).name()));
            QVERIFY2(isBlue(frame.pixelColor(device.width() - 2, y)),
                     qPrintable(frame.pixelColor(device.width() - 2, y).name()));
        }
        // What the user sees is the frame, not a black border around it.
        const QImage shown = host.grab().toImage();
        QCOMPARE(shown.size(), device);
        QVERIFY(isRed(shown.pixelColor(1, device.height() - 2)));
        QVERIFY(isBlue(shown.pixelColor(device.width() - 2, 1)));
    }

    // The converter is given an even width and 64-byte rows of our own: an odd one costs it four
    // times the work (what it leaves at the right edge is checked below, on screen).
    void convertsEvenWidths_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("converted");
        QTest::addColumn<int>("stride");
        QTest::newRow("even") << 1854 << 1854 << 7424;
        QTest::newRow("odd") << 1855 << 1854 << 7424;
        QTest::newRow("odd, a whole row of 64 bytes") << 15 << 14 << 64;
        QTest::newRow("odd, a row just over") << 17 << 16 << 128;
        QTest::newRow("one pixel") << 1 << 1 << 64;
        QTest::newRow("none") << 0 << 0 << 0;
    }
    void convertsEvenWidths() {
        QFETCH(int, width);
        QFETCH(int, converted);
        QFETCH(int, stride);
        QCOMPARE(converter_width(width), converted);
        QCOMPARE(frame_stride(width), stride);
    }

    // At odd sizes, drawn in place and through a frame of our own, the picture reaches the
    // right edge with its own pixels, in the same place as at even ones.
    void oddSizesShowTheWholePicture_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("odd, smaller") << QSize(161, 121);
        QTest::newRow("odd, larger") << QSize(481, 361);
        QTest::newRow("even") << QSize(482, 362);
    }
    void oddSizesShowTheWholePicture() {
        QFETCH(QSize, size);
        const QString clip = m_dir.filePath("bands.flv");
        if (!QFileInfo::exists(clip))
            QVERIFY(
                testing::runFfmpeg({"-f", "lavfi", "-i",
                                    "color=c=red:s=160x240:d=2[a];color=c=blue:s=152x240:d=2[b];"
                                    "color=c=green:s=8x240:d=2[c];[a][b][c]hstack=inputs=3",
                                    "-c:v", "flv1", "-q:v", "2", clip}));
        PlaybackHost host(noSoundOptions());
        host.resize(size);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        host.setMovie(addressOf(clip));
        QTRY_VERIFY2_WITH_TIMEOUT(host.framesShown() > 1 && !host.currentPicture().isNull() &&
                                      bandsWrong(host.currentPicture()).isEmpty(),
                                  qPrintable(bandsWrong(host.currentPicture())), kWait);
        QVERIFY2(host.framesPaintedInPlace() > 0, "nothing was drawn in place");
        host.engine()->pause();
        QTRY_VERIFY_WITH_TIMEOUT(host.engine()->state().paused, kWait);
        QTest::qWait(200);
        auto* store = dynamic_cast<QImage*>(host.backingStore()->paintDevice());
        QVERIFY(store);
        const QRect shown(QPoint(0, 0), (QSizeF(size) * host.devicePixelRatioF()).toSize());
        QVERIFY2(bandsWrong(store->copy(shown)).isEmpty(),
                 qPrintable(bandsWrong(store->copy(shown))));
        QVERIFY2(bandsWrong(host.grab().toImage()).isEmpty(),
                 qPrintable(bandsWrong(host.grab().toImage())));
    }

    // Only quarter turns are turned, whichever way the angle is written; the track that turns
    // is the one that will play, chosen before the engine chooses.
    void choosesTheTurn() {
        const std::pair<long long, const char*> filters[] = {
            {0, ""},
            {90, "transpose=clock"},
            {-270, "transpose=clock"},
            {450, "transpose=clock"},
            {180, "vflip,hflip"},
            {270, "transpose=cclock"},
            {-90, "transpose=cclock"},
            {45, ""},
            {360, ""},
        };
        for (const auto& [degrees, filter] : filters)
            QVERIFY2(upright_filter(degrees) == filter, qPrintable(QString::number(degrees)));

        const VideoTrack plain{1, false, false, 0}, turned{2, false, false, 90},
            flagged{3, true, false, 180}, cover{4, true, true, 270};
        const struct {
            std::vector<VideoTrack> tracks;
            long long asked;
            long long rotation;
        } cases[] = {
            {{}, 0, 0},
            {{turned}, 0, 90},
            {{plain, turned}, 0, 0},
            {{plain, turned}, 2, 90},
            {{plain, turned}, 7, 0},     // no such track: the engine's own choice
            {{turned, flagged}, 0, 180}, // the flagged default plays
            {{cover, turned}, 0, 90},    // a cover picture is chosen last
            {{cover}, 0, 270},
            {{cover, turned, flagged}, 4, 270},
        };
        for (const auto& c : cases)
            QCOMPARE(rotation_to_play(c.tracks, c.asked), c.rotation);
    }

    // A picture stored turned or with non-square pixels is shown upright at its displayed size,
    // reported as that, and the next plain file is shown as it is stored again. The tag is the
    // one ffmpeg writes: rotate=90 shows the stored picture turned a quarter anticlockwise.
    void showsPicturesUpright_data() {
        QTest::addColumn<int>("tag");
        QTest::addColumn<QString>("aspect");
        QTest::addColumn<QSize>("shown");
        // Colours at the top, bottom, left and right edges: r, b or - for either.
        QTest::addColumn<QString>("edges");
        QTest::newRow("quarter") << 90 << "1" << QSize(240, 320) << "b r - -";
        QTest::newRow("half") << 180 << "1" << QSize(320, 240) << "- - b r";
        QTest::newRow("three quarters") << 270 << "1" << QSize(240, 320) << "r b - -";
        QTest::newRow("wide pixels") << 0 << "2" << QSize(640, 240) << "- - r b";
        QTest::newRow("tall pixels") << 0 << "1/2" << QSize(320, 480) << "- - r b";
        QTest::newRow("wide pixels turned") << 90 << "2" << QSize(240, 640) << "b r - -";
    }
    void showsPicturesUpright() {
        QFETCH(int, tag);
        QFETCH(QString, aspect);
        QFETCH(QSize, shown);
        QFETCH(QString, edges);
        const QStringList edge = edges.split(u' ');
        const QString &top = edge[0], &bottom = edge[1], &left = edge[2], &right = edge[3];
        const QString stored =
            m_dir.filePath("redblue-" + QString(aspect).replace('/', '-') + ".mp4");
        if (!QFileInfo::exists(stored))
            QVERIFY(testing::runFfmpeg(
                {"-f", "lavfi", "-i",
                 "color=c=red:s=160x240:d=3[a];color=c=blue:s=160x240:d=3[b];[a][b]hstack,setsar=" +
                     aspect,
                 "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", stored}));
        const QString clip =
            m_dir.filePath(QStringLiteral("turned-%1-%2.mp4")
                               .arg(QString::number(tag), QString(aspect).replace('/', '-')));
        QVERIFY(testing::runFfmpeg({"-i", stored, "-c", "copy", "-metadata:s:v:0",
                                    "rotate=" + QString::number(tag), clip}));

        PlaybackHost host(noSoundOptions());
        host.resize(shown);
        host.show();
        QSignalSpy spy(&host, &PlaybackHost::FSCommand);
        host.setMovie(addressOf(clip));
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, kWait);
        QCOMPARE(messagesOf(spy),
                 (Messages{{"actualsizewidth", QString::number(shown.width())},
                           {"actualsizeheight", QString::number(shown.height())}}));

        const auto colourAt = [](const QImage& frame, QPoint at) {
            const QColor c = frame.pixelColor(at);
            return isRed(c) ? QStringLiteral("r") : isBlue(c) ? QStringLiteral("b") : c.name();
        };
        const auto matches = [&](const QImage& frame) {
            const int w = frame.width(), h = frame.height();
            const std::pair<QString, QPoint> expected[] = {{top, {w / 2, 4}},
                                                           {bottom, {w / 2, h - 5}},
                                                           {left, {4, h / 2}},
                                                           {right, {w - 5, h / 2}}};
            QStringList wrong;
            for (const auto& [colour, at] : expected)
                if (colour != "-" && colourAt(frame, at) != colour)
                    wrong << QStringLiteral("%1 at %2,%3 is %4")
                                 .arg(colour)
                                 .arg(at.x())
                                 .arg(at.y())
                                 .arg(colourAt(frame, at));
            return wrong.join(", ");
        };
        QTRY_VERIFY_WITH_TIMEOUT(host.framesShown() > 0 && !host.currentPicture().isNull() &&
                                     matches(host.currentPicture()).isEmpty(),
                                 kWait);
        QVERIFY2(matches(host.currentPicture()).isEmpty(),
                 qPrintable(matches(host.currentPicture())));

        // The turn belongs to that file alone.
        spy.clear();
        host.resize(320, 240);
        host.setMovie(addressOf(m_redBlue));
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, kWait);
        QCOMPARE(messagesOf(spy),
                 (Messages{{"actualsizewidth", "320"}, {"actualsizeheight", "240"}}));
        QTRY_VERIFY_WITH_TIMEOUT(!host.currentPicture().isNull() &&
                                     isRed(host.currentPicture().pixelColor(4, 120)) &&
                                     isBlue(host.currentPicture().pixelColor(315, 120)),
                                 kWait);
    }

    // Playable, but hard on a renderer that draws in software: turned pictures of odd and tiny
    // sizes, deep colour, and a turn that is no quarter turn (shown as stored). Each plays.
    void playsHardTurnedPictures_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("pixels");
        QTest::addColumn<QString>("turn");
        QTest::addColumn<QSize>("shown");
        QTest::newRow("odd") << "s=322x242:d=2,format=yuv444p,crop=321:241:0:0"
                             << "yuv444p"
                             << "90" << QSize(241, 321);
        QTest::newRow("tiny") << "s=2x2:d=2"
                              << "yuv444p"
                              << "270" << QSize(2, 2);
        QTest::newRow("deep colour") << "s=320x240:d=2"
                                     << "yuv420p10le"
                                     << "180" << QSize(320, 240);
        QTest::newRow("askew") << "s=320x240:d=2"
                               << "yuv420p"
                               << "45" << QSize(320, 240);
    }
    void playsHardTurnedPictures() {
        QFETCH(QString, source);
        QFETCH(QString, pixels);
        QFETCH(QString, turn);
        QFETCH(QSize, shown);
        const QString stored =
            m_dir.filePath(QStringLiteral("hard-%1.mp4").arg(QTest::currentDataTag()));
        const QString clip =
            m_dir.filePath(QStringLiteral("hard-%1-turned.mp4").arg(QTest::currentDataTag()));
        // Turned afterwards: the encoder leaves out a rotation it is given.
        QVERIFY(testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=" + source, "-c:v", "libx264",
                                    "-pix_fmt", pixels, stored}));
        QVERIFY(testing::runFfmpeg(
            {"-i", stored, "-c", "copy", "-metadata:s:v:0", "rotate=" + turn, clip}));
        PlaybackHost host(noSoundOptions());
        host.resize(shown);
        host.show();
        QSignalSpy spy(&host, &PlaybackHost::FSCommand);
        host.setMovie(addressOf(clip));
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, kWait);
        QCOMPARE(messagesOf(spy),
                 (Messages{{"actualsizewidth", QString::number(shown.width())},
                           {"actualsizeheight", QString::number(shown.height())}}));
        QTRY_VERIFY_WITH_TIMEOUT(host.framesShown() > 3, kWait);
        QVERIFY(host.failureText().isEmpty());
    }

    // Frames reach the screen as fast as the video runs, drawn by the engine straight into the
    // window's backing store, both at the video's own size and when the picture is scaled.
    void showsEveryFrameInPlace_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("natural size") << QSize(320, 240);
        QTest::newRow("scaled") << QSize(500, 300);
    }
    void showsEveryFrameInPlace() {
        QFETCH(QSize, size);
        const QString clip = m_dir.filePath("thirty.flv");
        if (!QFileInfo::exists(clip))
            QVERIFY(
                testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30:duration=6",
                                    "-c:v", "flv1", "-q:v", "5", clip}));
        PlaybackHost host(noSoundOptions());
        host.resize(size);
        host.show();
        host.setMovie(addressOf(clip));
        QTRY_VERIFY_WITH_TIMEOUT(host.framesShown() > 0, kWait);

        const long long shownBefore = host.framesShown();
        const long long inPlaceBefore = host.framesPaintedInPlace();
        const double start = host.engine()->position();
        QTest::qWait(3000);
        const double played = host.engine()->position() - start;
        const long long shown = host.framesShown() - shownBefore;
        QVERIFY2(played > 1.0, qPrintable(QString::number(played)));
        // Loose on purpose: the test machine is shared, but a stalled hand-over shows a few
        // frames at most.
        const int expected = int(played * 30);
        QVERIFY2(shown >= expected / 2,
                 qPrintable(QStringLiteral("%1 of %2 frames shown").arg(shown).arg(expected)));
        QVERIFY2(shown <= expected + 3,
                 qPrintable(QStringLiteral("%1 of %2 frames shown").arg(shown).arg(expected)));
        // Whole-host paints went straight into the store; none fell back to a copy.
        QCOMPARE(host.framesPaintedInPlace() - inPlaceBefore, shown);

        // A grab paints into a device of its own, and still shows the picture.
        const QImage grabbed = host.grab().toImage();
        QCOMPARE(grabbed.size(), (QSizeF(size) * host.devicePixelRatioF()).toSize());
        QVERIFY(testing::colourful(grabbed));
    }

    // The engine draws in the layout of the memory it is given: X11 backing stores are
    // premultiplied ARGB, where every pixel must come out opaque; layouts it cannot draw are
    // painted through a copy. Either way the user sees the same picture.
    void drawsIntoEveryStoreLayout_data() {
        QTest::addColumn<QImage::Format>("format");
        QTest::newRow("RGB32") << QImage::Format_RGB32;
        QTest::newRow("ARGB32 premultiplied") << QImage::Format_ARGB32_Premultiplied;
        QTest::newRow("ARGB32, through a copy") << QImage::Format_ARGB32;
        QTest::newRow("RGB888, through a copy") << QImage::Format_RGB888;
    }
    void drawsIntoEveryStoreLayout() {
        QFETCH(QImage::Format, format);
        PlaybackHost host(noSoundOptions());
        host.resize(160, 90);
        host.show();
        host.setMovie(addressOf(m_redBlue));
        QTRY_VERIFY_WITH_TIMEOUT(!host.currentPicture().isNull() &&
                                     isRed(host.currentPicture().pixelColor(1, 1)),
                                 kWait);
        host.engine()->pause();

        QImage store(host.size(), format);
        store.fill(Qt::transparent); // where nothing is drawn, or no alpha is set, it shows
        host.render(&store);
        for (int y = 0; y < store.height(); ++y)
            for (int x = 0; x < store.width(); ++x) {
                const QColor c = store.pixelColor(x, y);
                QVERIFY2(
                    c.alpha() == 255,
                    qPrintable(QStringLiteral("alpha %1 at %2,%3").arg(c.alpha()).arg(x).arg(y)));
                const bool left = x<store.width() / 2 - 4, right = x> store.width() / 2 + 4;
                QVERIFY2(!left || isRed(c),
                         qPrintable(c.name() + QStringLiteral(" at %1,%2").arg(x).arg(y)));
                QVERIFY2(!right || isBlue(c),
                         qPrintable(c.name() + QStringLiteral(" at %1,%2").arg(x).arg(y)));
            }
    }

    // The bar over the picture repaints between frames; the picture under it is drawn again
    // from the rows kept of the frame, not by drawing the whole frame once more, and the bar
    // comes out as it was, not blended over itself.
    void barRepaintsDrawNoWholeFrame() {
        PlaybackHost host(noSoundOptions());
        host.resize(320, 180);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        host.setMovie(addressOf(m_redBlue));
        QTRY_VERIFY_WITH_TIMEOUT(host.framesShown() > 1, kWait);
        host.controls()->setPinned(true);
        QVERIFY(host.controls()->isVisible());
        host.engine()->pause();
        QTRY_VERIFY_WITH_TIMEOUT(host.engine()->state().paused, kWait);
        QTest::qWait(200); // the engine's last redraw is in
        auto* store = dynamic_cast<QImage*>(host.backingStore()->paintDevice());
        QVERIFY(store);
        const qreal ratio = host.devicePixelRatioF();
        const QRect bar = QRectF(host.controls()->geometry().topLeft() * ratio,
                                 QSizeF(host.controls()->size()) * ratio)
                              .toAlignedRect();
        const QImage before = store->copy(bar);
        QVERIFY(!isRed(before.pixelColor(2, before.height() / 2))); // the bar darkens it
        const long long rendered = host.framesRendered();
        for (int i = 0; i < 5; ++i) {
            host.controls()->repaint();
            QCoreApplication::processEvents();
        }
        QCOMPARE(host.framesRendered(), rendered);
        QCOMPARE(store->copy(bar), before);

        // A repaint of some other part draws the frame once, then keeps it.
        for (int i = 0; i < 3; ++i)
            host.repaint(QRect(0, 0, 10, 10));
        QVERIFY2(host.framesRendered() - rendered <= 1,
                 qPrintable(QString::number(host.framesRendered() - rendered)));
        QVERIFY(isRed(store->pixelColor(QPoint(2, 2) * ratio)));
    }

    void unplayablePathIsQuiet() {
        PlaybackHost host(noSoundOptions());
        host.resize(320, 240);
        host.show();
        QSignalSpy spy(&host, &PlaybackHost::FSCommand);
        const QString missing = m_dir.filePath("no such clip.flv");
        host.setMovie(addressOf(missing));
        QTRY_VERIFY_WITH_TIMEOUT(!host.failureText().isEmpty(), kWait);
        QVERIFY(host.failureText().contains("no such clip.flv"));
        // Nothing to show: the window goes back to its design size.
        QCOMPARE(messagesOf(spy),
                 (Messages{{"actualsizewidth", "380"}, {"actualsizeheight", "311"}}));

        // The next good file plays again and the notice goes away.
        host.setMovie(addressOf(m_redBlue));
        QTRY_VERIFY_WITH_TIMEOUT(spy.count() == 4 && host.failureText().isEmpty(), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(isRed(host.currentPicture().pixelColor(1, 1)), kWait);
    }

    void blackBeforeAnyMovie() {
        PlaybackHost host;
        host.resize(100, 80);
        host.show();
        QVERIFY(host.engine() == nullptr);
        const QImage shown = host.grab().toImage();
        QCOMPARE(shown.pixelColor(50, 40), QColor(Qt::black));
    }

    // The engine main starts before the window: taken over for its own file, which it does not
    // open a second time; let go, with its events, when the movie names another; none for none.
    void earlyEngineIsTakenOver_data() {
        QTest::addColumn<QString>("tail");
        QTest::addColumn<int>("movie"); // 0 the Spark clip, 1 the H.264 one
        QTest::addColumn<bool>("started");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<QString>("size");
        QTest::newRow("its own file") << m_spark << 0 << true << true << "320x240";
        QTest::newRow("quoted, with blanks")
            << "  \"" + m_spark + "\" " << 0 << true << true << "320x240";
        QTest::newRow("another file") << m_spark << 1 << true << false << "1280x720";
        QTest::newRow("blanks only") << "   " << 0 << false << false << "320x240";
    }
    void earlyEngineIsTakenOver() {
        QFETCH(QString, tail);
        QFETCH(int, movie);
        QFETCH(bool, started);
        QFETCH(bool, taken);
        QFETCH(QString, size);
        EarlyEngine early = start_engine_early(tail, noSoundOptions());
        QCOMPARE(bool(early.engine), started);
        const QPointer<VideoEngine> made = early.engine.get();
        std::unique_ptr<QSignalSpy> starts;
        if (made)
            starts = std::make_unique<QSignalSpy>(made.data(), &VideoEngine::fileStarted);
        // As while main builds the window: the engine runs on and no event is handled. Opening
        // the same file again would show as a second start.
        std::this_thread::sleep_for(std::chrono::milliseconds(800));

        PlaybackHost host(noSoundOptions());
        host.resize(380, 311);
        host.show();
        QSignalSpy sizes(&host, &PlaybackHost::FSCommand);
        host.adoptEngine(std::move(early));
        QVERIFY(host.engine() == nullptr);
        const QString path = movie == 0 ? m_spark : m_h264;
        host.setMovie(addressOf(path));
        QCOMPARE(!made.isNull() && host.engine() == made.data(), taken);
        QCOMPARE(made.isNull(), !taken);
        QTRY_COMPARE_WITH_TIMEOUT(sizes.count(), 2, kWait);
        QCOMPARE(sizes.at(0).at(1).toString() + "x" + sizes.at(1).at(1).toString(), size);
        QCOMPARE(host.player()->path(), path);
        QTRY_VERIFY_WITH_TIMEOUT(host.framesShown() > 0, kWait);
        QTest::qWait(500);
        QCOMPARE(sizes.count(), 2);
        if (taken)
            QCOMPARE(starts->count(), 1);
    }

    void engineFailureReachesCaller() {
        PlaybackHost host({"no-such-option-at-all=1"});
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, host.setMovie(addressOf(m_spark)));
    }
};

QTEST_MAIN(TestHost)
#include "test_host.moc"
