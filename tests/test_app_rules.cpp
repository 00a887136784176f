// Text and number rules of loading and size fitting, without any window.
#include "app/start_up.h"
#include "engine/path_bytes.h"
#include "engine/playback_state.h"
#include "window/movie_address.h"
#include "window/size_fitting.h"
#include "window/twips.h"

#include <QtTest>

#include <limits>
#include <stdexcept>

using namespace movarin;

namespace {
// Playback restarts as (has data, milliseconds).
using Restarts = QList<QPair<bool, int>>;
struct StillRestart {
    std::uint64_t frames;
    bool seek;
    std::int64_t ms;
};
using StillRestarts = QList<StillRestart>;
using Look = playback::FirstPlayGuard::Look;
using Verdict = playback::FirstPlayGuard::Verdict;
// What the engine sees every 250 ms from `fromMs` up to `toMs`, all alike but for the time.
QList<Look> every250(std::int64_t fromMs, std::int64_t toMs, Look look) {
    QList<Look> looks;
    for (look.nowMs = fromMs; look.nowMs <= toMs; look.nowMs += 250)
        looks << look;
    return looks;
}
QString q(const std::string& s) {
    return QString::fromStdString(s);
}
std::string s(const QString& q) {
    return q.toStdString();
}
} // namespace

class TestAppRules : public QObject {
    Q_OBJECT
private slots:
    void commandAddress_data() {
        QTest::addColumn<QString>("appDir");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("tail");
        QTest::addColumn<QString>("address");
        QTest::newRow("windows example")
            << "C:\\Apps\\Player"
            << "\\"
            << "C:\\Videos\\My Clip.flv"
            << "C:\\Apps\\Player\\movarin.swf?filename=C:/Videos/My Clip.flv";
        QTest::newRow("empty") << "C:\\A"
                               << "\\"
                               << ""
                               << "C:\\A\\movarin.swf?filename=";
        QTest::newRow("blank only") << "C:\\A"
                                    << "\\"
                                    << "   "
                                    << "C:\\A\\movarin.swf?filename=";
        QTest::newRow("quoted") << "C:\\A"
                                << "\\"
                                << "\"C:\\Videos\\a.flv\""
                                << "C:\\A\\movarin.swf?filename=C:/Videos/a.flv";
        QTest::newRow("blank inside quotes") << "C:\\A"
                                             << "\\"
                                             << " \"C:\\V\\a.flv \" "
                                             << "C:\\A\\movarin.swf?filename=C:/V/a.flv ";
        QTest::newRow("unc") << "C:\\A"
                             << "\\"
                             << "\\\\server\\share\\a.flv"
                             << "C:\\A\\movarin.swf?filename=//server/share/a.flv";
        QTest::newRow("unescaped") << "C:\\A"
                                   << "\\"
                                   << "C:\\v\\a&b#c%d?e.flv"
                                   << "C:\\A\\movarin.swf?filename=C:/v/a&b#c%d?e.flv";
        QTest::newRow("drive root") << "C:\\"
                                    << "\\"
                                    << "C:\\a.flv"
                                    << "C:\\\\movarin.swf?filename=C:/a.flv";
        QTest::newRow("two quoted paths") << "/opt/m"
                                          << "/"
                                          << "\"/v/a b.flv\" \"/v/c.flv\""
                                          << "/opt/m/movarin.swf?filename=/v/a b.flv /v/c.flv";
        QTest::newRow("tabs stay") << "/opt/m"
                                   << "/"
                                   << "\t/v/a.flv\t "
                                   << "/opt/m/movarin.swf?filename=\t/v/a.flv\t";
        QTest::newRow("linux non-ascii") << "/opt/m"
                                         << "/"
                                         << "/home/zoë/clips/Ünter.flv"
                                         << "/opt/m/movarin.swf?filename=/home/zoë/clips/Ünter.flv";
        QTest::newRow("linux root") << "/"
                                    << "/"
                                    << "/a.flv"
                                    << "//movarin.swf?filename=/a.flv";
    }
    void commandAddress() {
        QFETCH(QString, appDir);
        QFETCH(QString, separator);
        QFETCH(QString, tail);
        QFETCH(QString, address);
        const std::string built =
            movie_address(s(appDir), s(separator).front(), clean_command_path(s(tail)));
        QCOMPARE(q(built), address);
        // The host must get back exactly the cleaned path, whatever it holds.
        QCOMPARE(q(video_path_of(built)), q(clean_command_path(s(tail))));
    }

    void chosenAndDroppedPaths() {
        // The Open command keeps double quotes; the drop removes them.
        QCOMPARE(q(clean_chosen_path(" C:\\My Videos\\\"clip\".flv ")),
                 "C:/My Videos/\"clip\".flv");
        QCOMPARE(q(clean_dropped_paths({" C:\\My Videos\\\"clip\".flv "})),
                 "C:/My Videos/clip.flv ");
        QCOMPARE(q(clean_dropped_paths({})), QString());
        // Every path is run together, as the drop steps do when given several.
        QCOMPARE(q(clean_dropped_paths({"/a.flv", " /b.flv"})), "/a.flv /b.flv");
    }

    void videoPathOfTakesFirstKey() {
        QCOMPARE(q(video_path_of("/x/movarin.swf?filename=/v/a?filename=b.flv")),
                 "/v/a?filename=b.flv");
        QCOMPARE(q(video_path_of("/x/movarin.swf")), QString());
    }

    void tail() {
        QCOMPARE(command_tail({"movarin"}), QString());
        QCOMPARE(command_tail({"movarin", "/v/My", "Clip.flv"}), "/v/My Clip.flv");
        QCOMPARE(command_tail({"movarin", "  "}), "  ");
        QCOMPARE(command_tail({"movarin", "\"/v/a b.flv\""}), "\"/v/a b.flv\"");
    }

    // Any byte string survives the trip through a QString, and valid UTF-8 reads as Qt reads it.
    void pathBytesRoundTrip_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("validUtf8");
        QTest::newRow("ascii") << QByteArray("/v/a b.flv") << true;
        QTest::newRow("accents and CJK") << QByteArray("/v/caf\xc3\xa9 \xe6\x98\xa0.flv") << true;
        QTest::newRow("outside the BMP") << QByteArray("/v/\xf0\x9f\x8e\xac.flv") << true;
        QTest::newRow("latin-1 byte") << QByteArray("/v/caf\xe9.flv") << false;
        QTest::newRow("lone continuation") << QByteArray("/v/\x80\xbf") << false;
        QTest::newRow("cut sequence at the end") << QByteArray("/v/\xe6\x98") << false;
        QTest::newRow("overlong slash") << QByteArray("/v/\xc0\xaf") << false;
        QTest::newRow("encoded surrogate") << QByteArray("/v/\xed\xb2\x80") << false;
        QTest::newRow("past unicode") << QByteArray("/v/\xf4\x90\x80\x80") << false;
        QTest::newRow("escape after a pair") << QByteArray("\xf0\x9f\x8e\xac\xff") << false;
        QTest::newRow("every byte") << [] {
            QByteArray all;
            for (int i = 1; i < 256; ++i)
                all.append(char(i));
            return all;
        }() << false;
    }
    void pathBytesRoundTrip() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, validUtf8);
        const std::string raw = bytes.toStdString();
        const QString text = from_path_bytes(raw);
        QCOMPARE(to_path_bytes(text), raw);
        QCOMPARE(text == QString::fromUtf8(bytes), validUtf8);
        // The start-up path: argv as the system passes it.
        const char* argv[] = {"movarin", raw.c_str(), raw.c_str()};
        QCOMPARE(to_path_bytes(command_tail(3, argv)), raw + " " + raw);
        QVERIFY(!readable_path(text).contains(QChar(0xDCFF)));
    }

    // Text that did not come from bytes still turns into sound UTF-8.
    void pathTextWithoutBytes() {
        QCOMPARE(to_path_bytes(QStringLiteral("caf\u00e9")), std::string("caf\xc3\xa9"));
        QCOMPARE(to_path_bytes(QString(QChar(0xD800))), std::string("\xef\xbf\xbd"));
        QCOMPARE(to_path_bytes(QString(QChar(0xDC41))), std::string("\xef\xbf\xbd"));
        QCOMPARE(readable_path(from_path_bytes("a\xff"
                                               "b")),
                 QStringLiteral("a\ufffdb"));
    }

    // Restarts as (has data, milliseconds); the index of the one that gives the file up, or -1.
    void emptyLoops_data() {
        QTest::addColumn<Restarts>("restarts");
        QTest::addColumn<int>("givenUpAt");
        using R = Restarts;
        QTest::newRow("tight empty loop") << R{{true, 0},   {false, 10}, {false, 12}, {false, 14},
                                               {false, 16}, {false, 18}, {false, 20}}
                                          << 5;
        QTest::newRow("a short clip that loops fast")
            << R{{true, 0}, {true, 40}, {true, 80}, {true, 120}, {true, 160}, {true, 200}} << -1;
        QTest::newRow("data in between starts the count again")
            << R{{false, 0}, {false, 1}, {false, 2}, {false, 3}, {true, 4}, {false, 5}, {false, 6}}
            << -1;
        QTest::newRow("slow seeks without times")
            << R{{false, 0},    {false, 900},  {false, 1800}, {false, 2700},
                 {false, 3600}, {false, 4500}, {false, 5400}}
            << -1;
        QTest::newRow("a pause, then a tight loop")
            << R{{false, 0},    {false, 5000}, {false, 5001},
                 {false, 5002}, {false, 5003}, {false, 5004}}
            << 5;
    }
    void emptyLoops() {
        QFETCH(Restarts, restarts);
        QFETCH(int, givenUpAt);
        playback::EmptyLoopGuard guard;
        int at = -1;
        for (int i = 0; i < restarts.size() && at < 0; ++i)
            if (guard.restarted(restarts[i].first, restarts[i].second))
                at = i;
        QCOMPARE(at, givenUpAt);
    }

    // Restarts as (pictures since the last, a seek, milliseconds); the one that holds it, or -1.
    void stillLoops_data() {
        QTest::addColumn<StillRestarts>("restarts");
        QTest::addColumn<int>("heldAt");
        using R = StillRestarts;
        QTest::newRow("one picture looped") << R{{1, false, 0},  {1, false, 30},  {1, false, 60},
                                                 {0, false, 90}, {1, false, 120}, {1, false, 150}}
                                            << 4;
        QTest::newRow("a short clip that loops fast")
            << R{{3, false, 0}, {3, false, 80}, {3, false, 160}, {3, false, 240}, {3, false, 320}}
            << -1;
        QTest::newRow("seeks through a paused video")
            << R{{1, true, 0},   {1, true, 100}, {1, true, 200},
                 {1, true, 300}, {1, true, 400}, {1, true, 500}}
            << -1;
        QTest::newRow("a clip in between starts the count again")
            << R{{1, false, 0}, {1, false, 1}, {1, false, 2}, {1, false, 3},
                 {2, false, 4}, {1, false, 5}, {1, false, 6}}
            << -1;
        QTest::newRow("slow loops of a long still")
            << R{{1, false, 0},    {1, false, 900},  {1, false, 1800},
                 {1, false, 2700}, {1, false, 3600}, {1, false, 4500}}
            << -1;
    }
    void stillLoops() {
        QFETCH(StillRestarts, restarts);
        QFETCH(int, heldAt);
        playback::StillLoopGuard guard;
        int at = -1;
        for (int i = 0; i < restarts.size() && at < 0; ++i)
            if (guard.restarted(restarts[i].frames, restarts[i].seek, restarts[i].ms))
                at = i;
        QCOMPARE(at, heldAt);
    }

    // Looks at a loaded file every 250 ms; the first verdict other than Wait, and the time of it
    // (-1 for none).
    void firstPlay_data() {
        QTest::addColumn<QList<Look>>("looks");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<int>("atMs");
        const Look nothing{0, false, false, true, false, false};
        Look picture = nothing;
        picture.pictureShown = true;
        Look soundAlone = nothing;
        soundAlone.sound = true;
        soundAlone.videoExpected = false;
        Look soundNoPicture = nothing;
        soundNoPicture.sound = true;
        Look paused = nothing;
        paused.paused = true;
        Look starved = nothing;
        starved.waitingForInput = true;
        QTest::newRow("a picture at once") << every250(0, 500, picture) << int(Verdict::Plays) << 0;
        QTest::newRow("a sound file") << every250(0, 500, soundAlone) << int(Verdict::Plays) << 0;
        QTest::newRow("a slow first picture")
            << every250(0, 4750, nothing) + every250(5000, 5500, picture) << int(Verdict::Plays)
            << 5000;
        QTest::newRow("nothing ever")
            << every250(0, 9000, nothing) << int(Verdict::Unplayable) << 5000;
        QTest::newRow("sound but never the picture")
            << every250(0, 9000, soundNoPicture) << int(Verdict::NoPicture) << 5000;
        QTest::newRow("sound that starts late, then no picture")
            << every250(0, 3000, nothing) + every250(3250, 9000, soundNoPicture)
            << int(Verdict::NoPicture) << 5000;
        QTest::newRow("paused before anything played: the wait stops")
            << every250(0, 2000, nothing) + every250(2250, 30000, paused) +
                   every250(30250, 40000, nothing)
            << int(Verdict::Unplayable) << 33000;
        QTest::newRow("a pipe whose writer is slow")
            << every250(0, 60000, starved) + every250(60250, 61000, picture) << int(Verdict::Plays)
            << 60250;
        QTest::newRow("a pipe that fed nothing playable")
            << every250(0, 8000, starved) + every250(8250, 20000, nothing)
            << int(Verdict::Unplayable) << 13000;
    }
    void firstPlay() {
        QFETCH(QList<Look>, looks);
        QFETCH(int, verdict);
        QFETCH(int, atMs);
        playback::FirstPlayGuard guard;
        guard.start(0);
        for (const Look& look : looks)
            if (const Verdict v = guard.look(look); v != Verdict::Wait) {
                QCOMPARE(int(v), verdict);
                QCOMPARE(look.nowMs, std::int64_t(atMs));
                return;
            }
        QCOMPARE(-1, verdict);
    }

    void twipsModel() {
        QCOMPARE(twips::design_window(15, 15).width, 5700.0f);
        QCOMPARE(twips::design_window(15, 15).height, 5315.0f);
        const twips::WindowTwips home{2900, 2000, 4800, 4250};
        QCOMPARE(twips::frame_position(home, 15, 15), (twips::PixelPoint{193, 133}));
        QCOMPARE(twips::video_area(home, 15, 15), (twips::PixelSize{320, 240}));
        QCOMPARE(twips::video_area({0, 0, 3840, 3530}, 12, 12), (twips::PixelSize{320, 240}));
        // A height below the allowance gives an empty area, never a negative one.
        QCOMPARE(twips::video_area({0, 0, 0, 100}, 15, 15), (twips::PixelSize{0, 0}));
    }

    // What Left and Top read once the window is shown: the stored twips while the frame stands on
    // their pixel, the frame's own pixels once it stands elsewhere.
    void followFrame_data() {
        QTest::addColumn<double>("tpp");
        QTest::addColumn<float>("left");
        QTest::addColumn<float>("top");
        QTest::addColumn<QPoint>("frame");
        QTest::addColumn<float>("readLeft");
        QTest::addColumn<float>("readTop");
        QTest::newRow("home, unmoved")
            << 15.0 << 2900.f << 2000.f << QPoint(193, 133) << 2900.f << 2000.f;
        QTest::newRow("moved by the user")
            << 15.0 << 2900.f << 2000.f << QPoint(699, 480) << 10485.f << 7200.f;
        QTest::newRow("moved down only")
            << 15.0 << 2900.f << 2000.f << QPoint(193, 480) << 2900.f << 7200.f;
        QTest::newRow("half a pixel rounds away from zero")
            << 15.0 << 2902.5f << -22.5f << QPoint(194, -2) << 2902.5f << -22.5f;
        QTest::newRow("one pixel off the rounded place")
            << 15.0 << 2902.5f << 2000.f << QPoint(193, 133) << 2895.f << 2000.f;
        QTest::newRow("120 dpi, moved")
            << 12.0 << 2900.f << 2000.f << QPoint(500, 167) << 6000.f << 2000.f;
        QTest::newRow("a place no window takes")
            << 15.0 << 1e30f << std::numeric_limits<float>::infinity() << QPoint(10, 20) << 150.f
            << 300.f;
    }
    void followFrame() {
        QFETCH(double, tpp);
        QFETCH(float, left);
        QFETCH(float, top);
        QFETCH(QPoint, frame);
        QFETCH(float, readLeft);
        QFETCH(float, readTop);
        const twips::WindowTwips read =
            twips::follow_frame({left, top, 4800, 4250}, {frame.x(), frame.y()}, tpp, tpp);
        QCOMPARE(read.left, readLeft);
        QCOMPARE(read.top, readTop);
        QCOMPARE(read.width, 4800.f);
        QCOMPARE(read.height, 4250.f);
    }

    // Too large for a window: refused before narrowing to int, which once turned 1e11 twips
    // into a 0-pixel area.
    void twipsOutOfRange_data() {
        QTest::addColumn<float>("width");
        QTest::addColumn<float>("height");
        QTest::addColumn<float>("left");
        QTest::newRow("1e11 twips wide") << 1e11f << 5315.f << 0.f;
        QTest::newRow("1e11 twips high") << 5700.f << 1e11f << 0.f;
        QTest::newRow("just past the widget limit") << 16777216.f * 15 << 5315.f << 0.f;
        QTest::newRow("far to the left") << 5700.f << 5315.f << -1e11f;
        QTest::newRow("infinite") << std::numeric_limits<float>::infinity() << 5315.f << 0.f;
    }

    void twipsOutOfRange() {
        QFETCH(float, width);
        QFETCH(float, height);
        QFETCH(float, left);
        const twips::WindowTwips window{left, 0, width, height};
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, {
            twips::frame_position(window, 15, 15);
            twips::video_area(window, 15, 15);
        });
        // The largest extent a widget takes still converts.
        QCOMPARE(twips::video_area({0, 0, 16777215.f * 15, 5315}, 15, 15).width, 16777215);
    }

    void leadingNumber_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("initial width") << "Text1" << 0.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("plain") << "320" << 320.0;
        QTest::newRow("leading blanks") << "   240" << 240.0;
        QTest::newRow("trailing text") << "12abc" << 12.0;
        QTest::newRow("decimal") << "12.5px" << 12.5;
        QTest::newRow("comma is not a decimal point") << "12,5" << 12.0;
        QTest::newRow("negative") << "-3" << -3.0;
        QTest::newRow("fraction only") << ".5" << 0.5;
        QTest::newRow("exponent") << "1e3" << 1000.0;
        QTest::newRow("zero") << "0" << 0.0;
        QTest::newRow("sign alone") << "-" << 0.0;
    }
    void leadingNumber() {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(fitting::leading_number(s(text)), value);
    }

    void conversion_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("decimal");
        QTest::addColumn<QString>("group");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<double>("value");
        QTest::newRow("plain") << "320"
                               << "."
                               << "," << true << 320.0;
        QTest::newRow("c decimal") << "12.5"
                                   << "."
                                   << "," << true << 12.5;
        QTest::newRow("german decimal") << "12,5"
                                        << ","
                                        << "." << true << 12.5;
        QTest::newRow("c form under german") << "12.5"
                                             << ","
                                             << "." << true << 12.5;
        QTest::newRow("german grouping") << "1.280"
                                         << ","
                                         << "." << true << 1280.0;
        QTest::newRow("english grouping") << "1,280"
                                          << "."
                                          << "," << true << 1280.0;
        QTest::newRow("signed exponent") << "-1.5e2"
                                         << "."
                                         << "," << true << -150.0;
        QTest::newRow("word") << "abc"
                              << "."
                              << "," << false << 0.0;
        QTest::newRow("empty") << ""
                               << "."
                               << "," << false << 0.0;
        QTest::newRow("trailing junk") << "320px"
                                       << "."
                                       << "," << false << 0.0;
        QTest::newRow("inner blank") << "3 20"
                                     << "."
                                     << "," << false << 0.0;
        QTest::newRow("lone point") << "."
                                    << "."
                                    << "," << false << 0.0;
    }
    void conversion() {
        QFETCH(QString, text);
        QFETCH(QString, decimal);
        QFETCH(QString, group);
        QFETCH(bool, ok);
        QFETCH(double, value);
        const fitting::NumberFormat format{decimal.at(0).toLatin1(), group.at(0).toLatin1()};
        const auto result = fitting::convert_number(s(text), format);
        QCOMPARE(result.has_value(), ok);
        if (ok)
            QCOMPARE(*result, value);
        else
            QVERIFY_THROWS_EXCEPTION(std::invalid_argument, fitting::to_number(s(text), format));
    }

    void refit_data() {
        QTest::addColumn<QString>("text1");
        QTest::addColumn<QString>("text2");
        QTest::addColumn<double>("tpp");
        QTest::addColumn<bool>("fits");
        QTest::addColumn<float>("width");
        QTest::addColumn<float>("height");
        QTest::newRow("96 dpi") << "320"
                                << "240" << 15.0 << true << 4800.0f << 4250.0f;
        QTest::newRow("120 dpi") << "320"
                                 << "240" << 12.0 << true << 3840.0f << 3530.0f;
        QTest::newRow("720p") << "1280"
                              << "720" << 15.0 << true << 19200.0f << 11450.0f;
        QTest::newRow("width only") << "320"
                                    << "Text2" << 15.0 << false << 0.0f << 0.0f;
        QTest::newRow("height emptied") << "320"
                                        << "" << 15.0 << false << 0.0f << 0.0f;
        QTest::newRow("zero width") << "0"
                                    << "240" << 15.0 << false << 0.0f << 0.0f;
        QTest::newRow("tiny") << "1"
                              << "1" << 15.0 << true << 15.0f << 665.0f;
    }
    void refit() {
        QFETCH(QString, text1);
        QFETCH(QString, text2);
        QFETCH(double, tpp);
        QFETCH(bool, fits);
        QFETCH(float, width);
        QFETCH(float, height);
        const auto result = fitting::refit(s(text1), s(text2), tpp, tpp, {});
        QCOMPARE(result.has_value(), fits);
        if (!fits)
            return;
        QCOMPARE(result->window_width, width);
        QCOMPARE(result->window_height, height);
        QCOMPARE(result->host_width, fitting::to_single(text1.toDouble()));
        QCOMPARE(result->host_height, fitting::to_single(text2.toDouble()));
    }

    // Videos larger than the room the screen leaves keep their shape and fill it; smaller ones
    // keep their natural size.
    void fitIntoRoom_data() {
        QTest::addColumn<double>("w");
        QTest::addColumn<double>("h");
        QTest::addColumn<int>("roomW");
        QTest::addColumn<int>("roomH");
        QTest::addColumn<double>("fitW");
        QTest::addColumn<double>("fitH");
        QTest::newRow("fits") << 320.0 << 240.0 << 1000 << 600 << 320.0 << 240.0;
        QTest::newRow("exactly") << 1000.0 << 600.0 << 1000 << 600 << 1000.0 << 600.0;
        QTest::newRow("1080p on 1366x768") << 1920.0 << 1080.0 << 1173 << 586 << 1042.0 << 586.0;
        QTest::newRow("too wide") << 4000.0 << 100.0 << 1000 << 600 << 1000.0 << 25.0;
        QTest::newRow("fraction fits") << 320.5 << 240.0 << 1000 << 600 << 320.5 << 240.0;
        QTest::newRow("no room known") << 1920.0 << 1080.0 << 0 << 0 << 1920.0 << 1080.0;
        QTest::newRow("sliver stays a pixel") << 10000.0 << 1.0 << 100 << 100 << 100.0 << 1.0;
    }
    void fitIntoRoom() {
        QFETCH(double, w);
        QFETCH(double, h);
        QFETCH(int, roomW);
        QFETCH(int, roomH);
        QFETCH(double, fitW);
        QFETCH(double, fitH);
        const fitting::Extent got = fitting::fit_into_room({w, h}, {roomW, roomH});
        QCOMPARE(got.width, fitW);
        QCOMPARE(got.height, fitH);
        const auto fit =
            fitting::refit(QByteArray::number(w).toStdString(), QByteArray::number(h).toStdString(),
                           15, 15, {}, {roomW, roomH});
        QVERIFY(fit);
        QCOMPARE(fit->window_width, float(fitW * 15));
        QCOMPARE(fit->window_height, float(fitH * 15 + 650));
        QCOMPARE(fit->host_width, float(fitW));
    }

    void letterbox_data() {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("area");
        QTest::addColumn<QRect>("placed");
        QTest::newRow("4:3 on 16:10")
            << QSize(320, 240) << QSize(1280, 800) << QRect(106, 0, 1067, 800);
        QTest::newRow("16:9 on 4:3")
            << QSize(1280, 720) << QSize(1024, 768) << QRect(0, 96, 1024, 576);
        QTest::newRow("same shape") << QSize(320, 240) << QSize(640, 480) << QRect(0, 0, 640, 480);
        QTest::newRow("no picture") << QSize(0, 0) << QSize(640, 480) << QRect(0, 0, 640, 480);
        QTest::newRow("no area") << QSize(320, 240) << QSize(0, 0) << QRect(0, 0, 0, 0);
    }
    void letterbox() {
        QFETCH(QSize, picture);
        QFETCH(QSize, area);
        QFETCH(QRect, placed);
        const fitting::PixelRect r =
            fitting::letterbox({picture.width(), picture.height()}, {area.width(), area.height()});
        QCOMPARE(QRect(r.x, r.y, r.width, r.height), placed);
    }

    void overflow() {
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, fitting::to_single(1e39));
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, fitting::to_number("1e400", {}));
        QVERIFY_THROWS_EXCEPTION(std::overflow_error,
                                 fitting::refit("1e300", "1e300", 1e10, 15, {}));
        // A room on the screen does not turn a size no window can take into one that fits.
        QVERIFY_THROWS_EXCEPTION(std::overflow_error,
                                 fitting::refit("1e38", "240", 15, 15, {}, {1000, 600}));
        QCOMPARE(fitting::to_single(-std::numeric_limits<float>::max()),
                 -std::numeric_limits<float>::max());
    }
};

QTEST_GUILESS_MAIN(TestAppRules)
#include "test_app_rules.moc"
