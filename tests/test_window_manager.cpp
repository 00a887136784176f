// Whether a window manager runs, decided on made-up windows and asked of a real X server where
// the test itself plays the manager's check window; and how a slip of the frame is read.
#include "window/window_manager.h"

#include <QGuiApplication>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>
#include <QtTest>

#include <xcb/xcb.h>

#include <map>

using namespace movarin;
using twips::PixelPoint;
Q_DECLARE_METATYPE(PixelPoint)

namespace {

// Each window's _NET_SUPPORTING_WM_CHECK; a window that is not in the map does not exist.
using Windows = std::map<XWindowId, std::optional<XWindowId>>;

constexpr XWindowId kRoot = 1;

// Sets (or with 0, deletes) `window`'s _NET_SUPPORTING_WM_CHECK, as a window manager does.
void setCheck(xcb_connection_t* c, xcb_window_t window, xcb_window_t value) {
    static constexpr char kName[] = "_NET_SUPPORTING_WM_CHECK";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof kName - 1, kName), nullptr);
    QVERIFY(atom);
    if (value)
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom->atom, XCB_ATOM_WINDOW, 32, 1,
                            &value);
    else
        xcb_delete_property(c, window, atom->atom);
    std::free(atom);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); // a round trip
}

} // namespace

class TestWindowManager : public QObject {
    Q_OBJECT
private slots:
    void decides_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("running");
        QTest::newRow("nothing on the root") << 0 << false;
        QTest::newRow("the root names none") << 1 << false;
        QTest::newRow("the check window names itself") << 2 << true;
        QTest::newRow("the check window is gone with its manager") << 3 << false;
        QTest::newRow("the check window's id went to another window") << 4 << false;
        QTest::newRow("the check window names another") << 5 << false;
    }
    void decides() {
        QFETCH(int, row);
        QFETCH(bool, running);
        const Windows rows[] = {
            {{kRoot, std::nullopt}},
            {{kRoot, 0}},
            {{kRoot, 7}, {7, 7}},
            {{kRoot, 7}},
            {{kRoot, 7}, {7, std::nullopt}},
            {{kRoot, 7}, {7, 8}, {8, 8}},
        };
        const Windows& windows = rows[row];
        int reads = 0;
        const bool got = window_manager_running(kRoot, [&](XWindowId id) {
            ++reads;
            const auto found = windows.find(id);
            return found == windows.end() ? std::nullopt : found->second;
        });
        QCOMPARE(got, running);
        QVERIFY(reads <= 2);
    }

    // The frame's slip after a placing: the window manager's doing within the frame's edges,
    // the user's beyond them; a manager that reads the place as the frame's is learnt.
    void readsTheSlip_data() {
        QTest::addColumn<PixelPoint>("slip");
        QTest::addColumn<PixelPoint>("asked");
        QTest::addColumn<PixelPoint>("now");
        QTest::addColumn<PixelPoint>("shift");
        QTest::addColumn<bool>("ours");
        QTest::addColumn<PixelPoint>("next");
        const PixelPoint none{}, edges{1, 20}, border{1, 1};
        QTest::newRow("where asked") << none << edges << edges << none << true << none;
        QTest::newRow("where asked, placed before the frame")
            << none << none << edges << none << true << none;
        QTest::newRow("placed unframed, inner area at the place")
            << PixelPoint{-1, -20} << none << edges << none << true << none;
        QTest::newRow("the title grew by one")
            << PixelPoint{0, -1} << PixelPoint{1, 19} << edges << none << true << none;
        QTest::newRow("the place read as the frame's")
            << border << border << border << none << true << border;
        QTest::newRow("read as the frame's again, already learnt")
            << border << border << border << border << true << border;
        QTest::newRow("moved by the user")
            << PixelPoint{300, 200} << edges << edges << none << false << none;
        QTest::newRow("moved a little more than the edges")
            << PixelPoint{2, 0} << border << border << border << false << none;
        QTest::newRow("no frame: any slip is the user's")
            << PixelPoint{0, 1} << none << none << none << false << none;
    }
    void readsTheSlip() {
        QFETCH(PixelPoint, slip);
        QFETCH(PixelPoint, asked);
        QFETCH(PixelPoint, now);
        QFETCH(PixelPoint, shift);
        QFETCH(bool, ours);
        QFETCH(PixelPoint, next);
        const auto got = placement_shift(slip, asked, now, shift);
        QCOMPARE(got.has_value(), ours);
        if (got)
            QCOMPARE(*got, next);
    }

    // On a real X server without a window manager: none runs until a check window names itself,
    // and none again once that window is gone though the root still names it.
    void asksTheXServer() {
        if (QGuiApplication::platformName() != QLatin1String("xcb")) {
            QVERIFY(!x_window_manager_running(0));
            QSKIP("the rest needs an X server");
        }
        xcb_connection_t* c =
            qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        QVERIFY2(!x_window_manager_running(0), "a window manager runs on this display");
        auto check = std::make_unique<QWindow>();
        const auto id = xcb_window_t(check->winId());
        setCheck(c, root, id);
        QVERIFY(!x_window_manager_running(0));
        setCheck(c, id, root);
        QVERIFY(!x_window_manager_running(id));
        setCheck(c, id, id);
        QVERIFY(x_window_manager_running(0));
        QVERIFY(x_window_manager_running(id));
        check.reset();
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        QVERIFY(!x_window_manager_running(0));
        setCheck(c, root, 0);
    }
};

QTEST_MAIN(TestWindowManager)
#include "test_window_manager.moc"
