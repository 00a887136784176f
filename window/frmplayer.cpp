#include "window/frmplayer.h"

#include "about/frmabout.h"
#include "engine/path_bytes.h"
#include "online/web_addresses.h"
#include "window/full_view.h"
#include "window/movie_address.h"
#include "window/open_dialog.h"
#include "window/playback_host.h"
#include "window/size_fitting.h"
#include "window/window_manager.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLayout>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QShowEvent>
#include <QUrl>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace movarin {

namespace {

QString defaultChooseFile(QWidget* parent) {
    return choose_video_file(parent);
}

fitting::NumberFormat userNumberFormat() {
    const QLocale locale;
    fitting::NumberFormat format;
    const QString decimal = locale.decimalPoint();
    const QString group = locale.groupSeparator();
    format.decimal_point = decimal.size() == 1 ? decimal.at(0).toLatin1() : '.';
    format.group_separator = group.size() == 1 ? group.at(0).toLatin1() : 0;
    if (format.decimal_point == 0)
        format.decimal_point = '.';
    return format;
}

std::vector<QString> localFiles(const QMimeData* data) {
    std::vector<QString> files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls()) {
        // The encoded path keeps a name's bytes; toLocalFile() would spoil those not UTF-8.
        if (url.isLocalFile())
            files.push_back(from_path_bytes(
                QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1())
                    .toStdString()));
    }
    return files;
}

// How often and how long to look for the window manager's frame: a window manager frames a new
// window within a few hundred milliseconds; without one no frame ever comes.
constexpr int kSettleTick = 20;
constexpr int kSettleTicks = 150;
// How long the frame is checked once it is known.
constexpr int kFramedTicks = 25;
// How long a size the window manager handed back must last before it is put right.
constexpr int kResizedTicks = 5;

} // namespace

frmplayer::frmplayer(PlayerSetup setup, QWidget* parent)
    : QMainWindow(parent), m_setup(std::move(setup)) {
    if (m_setup.appDir.isEmpty())
        m_setup.appDir = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    if (!m_setup.chooseFile)
        m_setup.chooseFile = defaultChooseFile;
    m_online = online::with_platform_defaults(m_setup.online, this);
    if (m_setup.updateServiceBase.isEmpty())
        m_setup.updateServiceBase = online::update_service_base();
    m_update =
        std::make_unique<online::UpdateCheck>(m_setup.updateServiceBase, m_setup.appDir, m_online);

    const QScreen* screen = QGuiApplication::primaryScreen();
    m_tppX = m_setup.twipsPerPixelX > 0
                 ? m_setup.twipsPerPixelX
                 : twips::per_pixel(screen ? screen->logicalDotsPerInchX() : 96);
    m_tppY = m_setup.twipsPerPixelY > 0
                 ? m_setup.twipsPerPixelY
                 : twips::per_pixel(screen ? screen->logicalDotsPerInchY() : 96);

    setWindowTitle(QStringLiteral("Movarin"));
    // Fixed single border: minimize and close, no maximize, no resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    if (!QApplication::windowIcon().isNull())
        setWindowIcon(QApplication::windowIcon());

    // The picture's own background: black wherever the picture does not reach, beside a video
    // narrower than the menu bar as around one letterboxed full screen.
    m_videoArea = new QWidget(this);
    QPalette black = m_videoArea->palette();
    black.setColor(QPalette::Window, Qt::black);
    m_videoArea->setPalette(black);
    m_videoArea->setBackgroundRole(QPalette::Window);
    m_videoArea->setAutoFillBackground(true);
    setCentralWidget(m_videoArea);
    player = new PlaybackHost(m_setup.engineOptions, m_videoArea);
    player->setObjectName(QStringLiteral("player"));
    player->setGeometry(0, 0, twips::kDesignVideoWidth, twips::kDesignVideoHeight);
    connect(player, &PlaybackHost::FSCommand, this, &frmplayer::player_FSCommand);

    buildMenu();
    m_fullView = new FullView(this, m_videoArea, player,
                              [this](std::optional<QPoint> frame) { restoreAfterFullView(frame); });
    m_settleTimer.setInterval(kSettleTick);
    connect(&m_settleTimer, &QTimer::timeout, this, &frmplayer::trySettle);
    // The window's size follows the video area and the menu bar, never the user's drag.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    m_twips = twips::design_window(m_tppX, m_tppY);
    applyGeometry();
}

frmplayer::~frmplayer() = default;

void frmplayer::buildMenu() {
    mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuopen = mnuFile->addAction(QStringLiteral("&Open"));
    mnuopen->setObjectName(QStringLiteral("mnuopen"));
    mnuopen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    mnuExit = mnuFile->addAction(QStringLiteral("&Exit"));
    mnuExit->setObjectName(QStringLiteral("mnuExit"));
    mnuExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    mnuabout = menuBar()->addAction(QStringLiteral("&About"));
    mnuabout->setObjectName(QStringLiteral("mnuabout"));
    mnuupdate = menuBar()->addAction(QStringLiteral("&Update"));
    mnuupdate->setObjectName(QStringLiteral("mnuupdate"));
    mnuwebsite = menuBar()->addAction(QStringLiteral("&View Website"));
    mnuwebsite->setObjectName(QStringLiteral("mnuwebsite"));

    // Shortcuts must work while the menu is closed and the host has the focus.
    for (QAction* action : {mnuopen, mnuExit})
        addAction(action);

    connect(mnuopen, &QAction::triggered, this, &frmplayer::mnuopen_Click);
    connect(mnuExit, &QAction::triggered, this, &frmplayer::mnuExit_Click);
    connect(mnuabout, &QAction::triggered, this, &frmplayer::mnuabout_Click);
    connect(mnuupdate, &QAction::triggered, this, &frmplayer::mnuupdate_Click);
    connect(mnuwebsite, &QAction::triggered, this, &frmplayer::mnuwebsite_Click);
}

log::LogWriter frmplayer::logWriter() const {
    return [this](std::string_view text) { write_log(text); };
}

void frmplayer::write_log(std::string_view text) const {
    log::write_app_log(std::filesystem::path(m_setup.appDir.toStdU16String()), text);
}

QString frmplayer::addressFor(const std::string& videoPath) const {
    return from_path_bytes(
        movie_address(to_path_bytes(m_setup.appDir), QDir::separator().toLatin1(), videoPath));
}

twips::WindowTwips frmplayer::placed() const {
    // A compositor keeps the place to itself, and a full or minimised window is not where the
    // twips put it: the stored place stands then.
    if (!m_settled || m_settleTimer.isActive() || !isVisible() ||
        windowState() != Qt::WindowNoState ||
        QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return m_twips;
    const QMargins frame = windowFrame();
    const QPoint at = geometry().topLeft() - QPoint(frame.left(), frame.top());
    return twips::follow_frame(m_twips, {at.x(), at.y()}, m_tppX, m_tppY);
}

// Each setter starts from where the frame stands now, so that a new size or one coordinate does
// not put the window back where the user moved it from.
void frmplayer::setLeft(float value) {
    m_twips = placed();
    m_twips.left = value;
    applyGeometry();
}

void frmplayer::setTop(float value) {
    m_twips = placed();
    m_twips.top = value;
    applyGeometry();
}

void frmplayer::setWidth(float value) {
    m_twips = placed();
    m_twips.width = value;
    applyGeometry();
}

void frmplayer::setHeight(float value) {
    m_twips = placed();
    m_twips.height = value;
    applyGeometry();
}

void frmplayer::applyGeometry() {
    if (m_fullView && m_fullView->holdGeometry())
        return;
    placeWindow();
    // Watch where the window manager puts it, and put right the slips that are its doing; a
    // first look still due after a show keeps its licence to correct anything.
    if (isVisible()) {
        m_settleTicks = 0;
        m_framedTicks = std::min(m_framedTicks, 1);
        m_settleTimer.start();
    }
}

void frmplayer::placeWindow() {
    const auto position = twips::frame_position(m_twips, m_tppX, m_tppY);
    const auto area = twips::video_area(m_twips, m_tppX, m_tppY);
    // Never narrower than the menu bar, so that every title stands on it; the picture keeps its
    // exact size at the left and the rest is black.
    const int bar = menuBar()->isVisibleTo(this) ? menuBar()->sizeHint().width() : 0;
    m_videoArea->setFixedSize(std::max(area.width, bar), area.height);
    // The size first, so that the place is asked for last: a resize carries the place Qt last
    // saw, which some window managers read as the frame's.
    layout()->activate();
    const QSize size = minimumSize() == maximumSize() ? minimumSize() : this->size();
    // move() adds the frame as the widget last saw it, which can still be none when the window
    // manager framed the window after Qt looked: place the inner area from the frame known now.
    const QMargins frame = windowFrame();
    m_placedWith = {frame.left(), frame.top()};
    if (isVisible() && !frame.isNull())
        setGeometry(QRect(QPoint(position.x + frame.left() - m_placeShift.x,
                                 position.y + frame.top() - m_placeShift.y),
                          size));
    else
        move(position.x, position.y);
}

QMargins frmplayer::windowFrame() const {
    const QWindow* handle = windowHandle();
    return handle ? handle->frameMargins() : QMargins();
}

void frmplayer::moveHome() {
    // Both at once: one move, so no half-way place comes back from the window manager later.
    m_twips = placed();
    m_twips.left = twips::kHomeLeft;
    m_twips.top = twips::kHomeTop;
    applyGeometry();
}

void frmplayer::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (QWindow* handle = windowHandle(); handle && !m_exposed)
        handle->installEventFilter(this);
}

bool frmplayer::eventFilter(QObject* watched, QEvent* event) {
    if (!m_exposed && event->type() == QEvent::Expose && watched == windowHandle() &&
        windowHandle()->isExposed()) {
        m_exposed = true;
        windowHandle()->removeEventFilter(this);
        // A fit made before the frame was known left it no room: fit again once it is.
        settleWhenFramed(true);
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmplayer::settleWhenFramed(bool refit) {
    m_settleRefit = m_settleRefit || refit;
    m_settleTicks = 0;
    m_framedTicks = 0;
    m_settleTimer.start();
    trySettle();
}

void frmplayer::trySettle() {
    // Placed before the window manager framed it (or while full screen took the frame away), the
    // window stands with its inner area, not its frame, at the place asked: put the frame there
    // as soon as it is known, before a load could make it jump.
    const bool framed =
        isVisible() && windowState() == Qt::WindowNoState && !windowFrame().isNull();
    if (!framed && ++m_settleTicks < kSettleTicks)
        return;
    // Still unsettled while it refits: the frame stands where the window manager put it, not
    // where the user moved it. For a while after, the frame is checked again: the window
    // manager's own placing of the unframed window can reach us after the first look.
    if (framed) {
        try {
            const bool first = m_framedTicks++ == 0;
            if (first && m_settleRefit) {
                m_settleRefit = false;
                refitToTexts();
            }
            const QMargins frame = windowFrame();
            const QPoint at = geometry().topLeft() - QPoint(frame.left(), frame.top());
            const auto want = twips::frame_position(m_twips, m_tppX, m_tppY);
            // Later, only a slip the window manager made is ours to correct: a frame anywhere
            // else was moved there by the user.
            const auto shift = placement_shift({at.x() - want.x, at.y() - want.y}, m_placedWith,
                                               {frame.left(), frame.top()}, m_placeShift);
            const bool slipped = at != QPoint(want.x, want.y) && (first || shift);
            if (shift)
                m_placeShift = *shift;
            // A window manager may also hand the window back a size it held from before; one
            // that lasts, not a moment's between its answers.
            const bool resized = minimumSize() == maximumSize() && size() != minimumSize();
            m_resizedTicks = resized ? m_resizedTicks + 1 : 0;
            if (slipped ||
                (m_resizedTicks >= kResizedTicks && (shift || at == QPoint(want.x, want.y))))
                placeWindow();
            else if (m_resizedTicks >= kResizedTicks)
                resize(minimumSize());
        } catch (const std::exception&) {
            // A place or size no window can take was refused when it was set; the window stays.
            m_framedTicks = kFramedTicks;
        }
        if (m_framedTicks < kFramedTicks)
            return;
    }
    m_settleTimer.stop();
    m_settled = true;
    m_settleRefit = false;
}

void frmplayer::restoreAfterFullView(std::optional<QPoint> frame) {
    if (frame)
        m_twips = twips::follow_frame(m_twips, {frame->x(), frame->y()}, m_tppX, m_tppY);
    applyGeometry();
    // Full screen took the frame away; the window manager gives it back a moment later, and
    // only then can the frame, rather than the inner area, be put back in place.
    settleWhenFramed(false);
}

void frmplayer::Form_Load(const QString& commandTail) {
    log::trap(log::Procedure::FormLoad, logWriter(), [&] {
        setLeft(twips::kHomeLeft);
        setTop(twips::kHomeTop);
        // An exact comparison: a tail of blanks still goes to play_file.
        if (!commandTail.isEmpty())
            play_file(commandTail);
        setAcceptDrops(true);
    });
}

void frmplayer::play_file(const QString& filename) {
    log::trap(log::Procedure::PlayFile, logWriter(), [&] {
        // Byte for byte: a name that is not valid UTF-8 still names its file.
        const std::string path = clean_command_path(to_path_bytes(filename));
        player->setMovie(addressFor(path));
        moveHome();
    });
}

void frmplayer::openFile(const std::string& path) {
    log::trap(log::Procedure::MnuOpenClick, logWriter(), [&] {
        Text1.clear();
        Text2.clear();
        player->setMovie(addressFor(path));
        moveHome();
    });
}

void frmplayer::mnuExit_Click() {
    close();
}

void frmplayer::mnuopen_Click() {
    log::trap(log::Procedure::MnuOpenClick, logWriter(), [&] {
        Text1.clear();
        Text2.clear();
        txtfile = m_setup.chooseFile(this);
        // Cancel keeps the video the user was watching where it is.
        if (txtfile.isEmpty())
            return;
        // Byte for byte, as the dialog returned it: the name may not be valid UTF-8.
        const std::string path = clean_chosen_path(to_path_bytes(txtfile));
        player->setMovie(addressFor(path));
        moveHome();
    });
}

void frmplayer::player_FSCommand(const QString& command, const QString& args) {
    log::trap(log::Procedure::PlayerFSCommand, logWriter(), [&] {
        const fitting::NumberFormat format = userNumberFormat();
        if (command == QLatin1String("actualsizewidth")) {
            const std::string w = trim_blanks(args.toStdString());
            player->setWidth(fitting::to_single(fitting::to_number(w, format)));
            player->setLeft(0);
            Text1 = QString::fromStdString(w);
        }
        if (command == QLatin1String("actualsizeheight")) {
            const std::string h = trim_blanks(args.toStdString());
            player->setHeight(fitting::to_single(fitting::to_number(h, format)));
            player->setLeft(0);
            Text2 = QString::fromStdString(h);
        }
        refitToTexts();
    });
}

void frmplayer::refitToTexts() {
    const auto fit =
        fitting::refit(Text1.toStdString(), Text2.toStdString(), m_tppX, m_tppY, userNumberFormat(),
                       m_fullView->roomAt(twips::frame_position(placed(), m_tppX, m_tppY)));
    if (fit) {
        setWidth(fit->window_width);
        setHeight(fit->window_height);
        player->setWidth(fit->host_width);
        player->setHeight(fit->host_height);
    }
}

void frmplayer::dragEnterEvent(QDragEnterEvent* event) {
    dragMoveEvent(event);
}

void frmplayer::dragMoveEvent(QDragMoveEvent* event) {
    if (localFiles(event->mimeData()).empty())
        return;
    // Never agree to Move or Link while the drag goes on: a source may act on the last answer
    // it got rather than on the drop's, and a moved file would be deleted while it plays.
    event->setDropAction((event->possibleActions() & Qt::CopyAction) ? Qt::CopyAction
                                                                     : Qt::IgnoreAction);
    event->accept();
}

void frmplayer::dropEvent(QDropEvent* event) {
    const std::vector<QString> files = localFiles(event->mimeData());
    if (files.empty())
        return;
    // Nothing was copied or moved, even when playing fails, so the source deletes nothing.
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
    log::trap(log::Procedure::FormOLEDragDrop, logWriter(), [&] {
        // Several files: the first one plays; joining them all would name no file.
        const std::string path = clean_dropped_paths({to_path_bytes(files.front())});
        player->setMovie(addressFor(path));
        moveHome();
    });
}

void frmplayer::mnuabout_Click() {
    log::trap(log::Procedure::MnuAboutClick, logWriter(), [&] {
        about::show_about(this, {Left(), Top(), Width(), Height()}, m_tppX, m_tppY);
    });
}

void frmplayer::mnuupdate_Click() {
    log::trap(log::Procedure::MnuUpdateClick, logWriter(), [&] { m_update->run(); });
}

void frmplayer::mnuwebsite_Click() {
    log::trap(log::Procedure::MnuWebsiteClick, logWriter(),
              [&] { online::open_in_browser(m_online, online::website_address()); });
}

} // namespace movarin
