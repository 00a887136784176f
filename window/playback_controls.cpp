#include "window/playback_controls.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <chrono>

namespace movarin {

namespace {

QRectF toQt(const controls::Rect& r) {
    return QRectF(r.x, r.y, r.width, r.height);
}

qint64 steadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QFont barFont(const QFont& base) {
    QFont font = base;
    font.setPixelSize(11);
    return font;
}

} // namespace

PlaybackControls::PlaybackControls(QWidget* host) : QWidget(host), m_host(host), m_clock(steadyMs) {
    setObjectName(QStringLiteral("controls"));
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    // Mouse moves must reach the host with no button held, or the bar could never appear.
    m_host->setMouseTracking(true);
    m_host->installEventFilter(this);
    watchKeysOf(m_host->window());

    m_hideTimer = new QTimer(this);
    m_hideTimer->setSingleShot(true);
    m_hideTimer->setTimerType(Qt::PreciseTimer);
    connect(m_hideTimer, &QTimer::timeout, this, &PlaybackControls::updateVisibility);

    m_actions = new PlayerActions(this);
    m_menu = new QMenu(this);
    m_menu->setObjectName(QStringLiteral("playerMenu"));
    m_actions->addMenuEntriesTo(m_menu);

    placeOverHost();
    hide();
}

PlaybackControls::~PlaybackControls() = default;

void PlaybackControls::attach(Player* player) {
    if (!player || m_player == player)
        return;
    if (m_player)
        disconnect(m_player, nullptr, this, nullptr);
    m_player = player;
    m_actions->setPlayer(player);
    connect(player, &Player::stateChanged, this, &PlaybackControls::onPlayerState);
}

const PlayerState& PlaybackControls::shown() const {
    static const PlayerState nothing;
    return m_player ? m_player->state() : nothing;
}

void PlaybackControls::onPlayerState() {
    // Hidden, it is painted whole when it shows again.
    if (isVisible() && face(barLayout()) != m_painted)
        update();
}

PlaybackControls::Face PlaybackControls::face(const controls::BarLayout& l) const {
    const PlayerState& s = shown();
    const double ratio = devicePixelRatioF();
    const double played =
        m_drag == Drag::Seek ? m_dragFraction : controls::played_fraction(s.position, s.duration);
    const double volume = m_drag == Drag::Volume ? m_dragVolume : s.volume;
    Face f;
    f.playing = !(s.paused || s.atEnd);
    f.time = l.time.empty() ? QString() : timeText();
    f.seekFill = controls::fill_pixels(l.seek.width, played, ratio);
    f.knob = s.duration > 0;
    f.muted = s.muted;
    f.volumeFill = controls::fill_pixels(l.volume.width, volume / controls::kVolumeMax, ratio);
    return f;
}

bool PlaybackControls::handleKey(int key, Qt::KeyboardModifiers modifiers, bool autoRepeat) {
    if (!m_actions->handleKey(key, modifiers, autoRepeat))
        return false;
    // The bar shows what the key did.
    activity();
    return true;
}

void PlaybackControls::setHideDelay(int ms) {
    m_visibility.setHideAfter(ms);
    updateVisibility();
}

void PlaybackControls::setClock(std::function<qint64()> clock) {
    m_clock = clock ? std::move(clock) : std::function<qint64()>(steadyMs);
}

void PlaybackControls::activity() {
    if (!attached())
        return;
    m_visibility.activity(m_clock());
    updateVisibility();
}

void PlaybackControls::updateVisibility() {
    const qint64 now = m_clock();
    const bool show = attached() && (m_pinned || m_visibility.visible(now));
    if (show != isVisible()) {
        setVisible(show);
        if (show)
            raise();
    }
    const qint64 wait = m_visibility.msUntilHide(now);
    if (show && wait >= 0)
        m_hideTimer->start(int(std::min<qint64>(wait, 60'000)));
    else
        m_hideTimer->stop();
}

void PlaybackControls::setPinned(bool pinned) {
    if (m_pinned == pinned)
        return;
    m_pinned = pinned;
    updateVisibility();
}

void PlaybackControls::placeOverHost() {
    setGeometry(0, m_host->height() - kBarHeight, m_host->width(), kBarHeight);
}

void PlaybackControls::watchKeysOf(QWidget* window) {
    if (!window || m_keyWindow == window)
        return;
    if (m_keyWindow && m_keyWindow != m_host)
        m_keyWindow->removeEventFilter(this);
    m_keyWindow = window;
    // Keys go to the focus widget and climb to the window when it does not want them, so
    // watching the window catches them whichever of its widgets has the focus.
    window->installEventFilter(this);
}

void PlaybackControls::popupMenu(const QPoint& globalPos) {
    m_actions->sync();
    m_menu->popup(globalPos);
}

bool PlaybackControls::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_keyWindow && event->type() == QEvent::KeyPress) {
        // While the menu bar is being worked with the keyboard, its arrows and letters are its.
        if (qobject_cast<QMenuBar*>(QApplication::focusWidget()))
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (handleKey(key->key(), key->modifiers(), key->isAutoRepeat())) {
            event->accept();
            return true;
        }
        return false;
    }
    if (watched != m_host)
        return false;
    switch (event->type()) {
    case QEvent::Resize:
        placeOverHost();
        break;
    case QEvent::MouseMove:
        activity();
        break;
    case QEvent::Leave:
        m_visibility.left();
        updateVisibility();
        break;
    case QEvent::ContextMenu:
        popupMenu(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    case QEvent::MouseButtonDblClick:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            m_actions->sync();
            if (QAction* full = m_actions->action(PlayerAction::FullScreen); full->isEnabled())
                full->trigger();
            return true;
        }
        break;
    case QEvent::Show:
    case QEvent::ParentChange:
        watchKeysOf(m_host->window());
        break;
    default:
        break;
    }
    return false;
}

QString PlaybackControls::timeText() const {
    const PlayerState& s = shown();
    const double at = m_drag == Drag::Seek ? m_dragFraction * s.duration : s.position;
    return QString::fromStdString(controls::format_time(at)) + QStringLiteral(" / ") +
           QString::fromStdString(controls::format_time(s.duration));
}

controls::BarLayout PlaybackControls::barLayout() const {
    // Sized for the widest digits, so the seek bar does not twitch as the seconds change.
    QString sample = timeText();
    for (QChar& c : sample)
        if (c.isDigit())
            c = u'0';
    const int textWidth = QFontMetrics(barFont(font())).horizontalAdvance(sample) + 2;
    return controls::layout_bar(width(), height(), textWidth);
}

void PlaybackControls::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !attached()) {
        event->ignore();
        return;
    }
    const controls::BarLayout layout = barLayout();
    const QPoint p = event->position().toPoint();
    m_visibility.pressed(m_clock());
    switch (controls::part_at(layout, p.x(), p.y())) {
    case controls::BarPart::Play:
        m_actions->action(PlayerAction::TogglePause)->trigger();
        break;
    case controls::BarPart::Mute:
        m_actions->action(PlayerAction::ToggleMute)->trigger();
        break;
    case controls::BarPart::Seek:
        m_drag = Drag::Seek;
        m_dragFraction = -1; // the press itself always seeks
        dragTo(p.x());
        break;
    case controls::BarPart::Volume:
        m_drag = Drag::Volume;
        dragTo(p.x());
        break;
    case controls::BarPart::None:
        break;
    }
    updateVisibility();
    event->accept();
}

void PlaybackControls::mouseMoveEvent(QMouseEvent* event) {
    activity();
    if (m_drag != Drag::None)
        dragTo(event->position().toPoint().x());
    event->accept();
}

void PlaybackControls::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    if (m_drag != Drag::None)
        dragTo(event->position().toPoint().x());
    m_drag = Drag::None;
    m_visibility.released(m_clock());
    updateVisibility();
    update();
    event->accept();
}

void PlaybackControls::dragTo(int x) {
    const controls::BarLayout layout = barLayout();
    if (m_drag == Drag::Seek) {
        const double fraction = controls::fraction_on(layout.seek, x);
        if (fraction == m_dragFraction)
            return;
        m_dragFraction = fraction;
        if (m_player && m_player->duration() > 0)
            m_player->seekTo(fraction * m_player->duration());
        update();
    } else if (m_drag == Drag::Volume) {
        m_dragVolume = controls::fraction_on(layout.volume, x) * controls::kVolumeMax;
        if (m_player)
            m_player->setVolume(m_dragVolume);
        update();
    }
}

namespace {

const QColor kInk(235, 235, 235);
const QColor kDim(255, 255, 255, 70);
const QColor kAccent(90, 170, 255);

// Play shows a triangle while paused, two bars while playing.
void drawPlayButton(QPainter& p, const QRectF& r, bool playing) {
    const QPointF c = r.center();
    p.setBrush(kInk);
    if (!playing) {
        QPainterPath tri;
        tri.moveTo(c.x() - 4, c.y() - 6);
        tri.lineTo(c.x() + 6, c.y());
        tri.lineTo(c.x() - 4, c.y() + 6);
        tri.closeSubpath();
        p.drawPath(tri);
    } else {
        p.drawRect(QRectF(c.x() - 5, c.y() - 6, 3.5, 12));
        p.drawRect(QRectF(c.x() + 1.5, c.y() - 6, 3.5, 12));
    }
}

// fillPixels are device pixels, so that the fill ends on the pixel the face was compared by.
void drawTrack(QPainter& p, const QRectF& r, double fillPixels, double ratio, const QColor& fill,
               bool knob) {
    const double cy = r.center().y();
    const double filled = fillPixels / ratio;
    p.setBrush(kDim);
    p.drawRoundedRect(QRectF(r.left(), cy - 2, r.width(), 4), 2, 2);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(r.left(), cy - 2, filled, 4), 2, 2);
    if (knob) {
        p.setBrush(kInk);
        p.drawEllipse(QPointF(r.left() + filled, cy), 5, 5);
    }
}

// A speaker, with waves, or crossed out while muted.
void drawSpeaker(QPainter& p, const QRectF& r, bool muted) {
    const QPointF c = r.center();
    QPainterPath speaker;
    speaker.moveTo(c.x() - 7, c.y() - 3);
    speaker.lineTo(c.x() - 4, c.y() - 3);
    speaker.lineTo(c.x(), c.y() - 7);
    speaker.lineTo(c.x(), c.y() + 7);
    speaker.lineTo(c.x() - 4, c.y() + 3);
    speaker.lineTo(c.x() - 7, c.y() + 3);
    speaker.closeSubpath();
    p.setBrush(kInk);
    p.drawPath(speaker);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kInk, 1.5));
    if (muted) {
        p.drawLine(QPointF(c.x() + 3, c.y() - 3), QPointF(c.x() + 8, c.y() + 3));
        p.drawLine(QPointF(c.x() + 3, c.y() + 3), QPointF(c.x() + 8, c.y() - 3));
    } else {
        p.drawArc(QRectF(c.x() - 3, c.y() - 4, 8, 8), -50 * 16, 100 * 16);
        p.drawArc(QRectF(c.x() - 3, c.y() - 7, 14, 14), -50 * 16, 100 * 16);
    }
    p.setPen(Qt::NoPen);
}

} // namespace

void PlaybackControls::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), QColor(0, 0, 0, 150));
    const controls::BarLayout l = barLayout();
    m_painted = face(l);
    const Face& f = m_painted;
    const double ratio = devicePixelRatioF();
    p.setPen(Qt::NoPen);
    if (!l.play.empty())
        drawPlayButton(p, toQt(l.play), f.playing);
    if (!l.time.empty()) {
        p.setPen(kInk);
        p.setFont(barFont(font()));
        p.drawText(toQt(l.time), Qt::AlignVCenter | Qt::AlignLeft, f.time);
        p.setPen(Qt::NoPen);
    }
    if (!l.seek.empty())
        drawTrack(p, toQt(l.seek), f.seekFill, ratio, kAccent, f.knob);
    if (!l.mute.empty())
        drawSpeaker(p, toQt(l.mute), f.muted);
    if (!l.volume.empty())
        drawTrack(p, toQt(l.volume), f.volumeFill, ratio, f.muted ? kDim : kInk, false);
}

} // namespace movarin
