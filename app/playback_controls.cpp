#include "app/playback_controls.h"

#include "app/mpv_engine.h"

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
#include <cmath>
#include <exception>

namespace movarin {

namespace {

QRectF toQt(const controls::Rect& r) {
    return QRectF(r.x, r.y, r.width, r.height);
}

qint64 steadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Unavailable properties (no file yet) arrive as invalid values and read as 0.
double toNumber(const QVariant& value) {
    bool ok = false;
    const double number = value.toDouble(&ok);
    return ok && std::isfinite(number) ? number : 0;
}

bool loopFrom(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::LongLong:
    case QMetaType::Int:
        return controls::loop_enabled(std::int64_t(value.toLongLong()));
    default:
        return controls::loop_enabled(value.toString().toStdString());
    }
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

    m_menu = new QMenu(this);
    m_menu->setObjectName(QStringLiteral("playerMenu"));
    m_play = m_menu->addAction(QStringLiteral("Play"));
    m_play->setCheckable(true);
    m_loop = m_menu->addAction(QStringLiteral("Loop"));
    m_loop->setCheckable(true);
    m_menu->addSeparator();
    m_rewind = m_menu->addAction(QStringLiteral("Rewind"));
    m_forward = m_menu->addAction(QStringLiteral("Forward"));
    m_back = m_menu->addAction(QStringLiteral("Back"));
    connect(m_play, &QAction::triggered, this, [this](bool checked) {
        if (checked && m_eof)
            togglePause(); // starts over from the end
        else
            setPaused(!checked);
        syncActions(); // the engine's report sets the mark
    });
    connect(m_loop, &QAction::triggered, this, &PlaybackControls::setLooping);
    connect(m_rewind, &QAction::triggered, this, [this] { seekTo(0); });
    connect(m_forward, &QAction::triggered, this, [this] { seekBy(controls::kMenuSeekSeconds); });
    connect(m_back, &QAction::triggered, this, [this] { seekBy(-controls::kMenuSeekSeconds); });
    syncActions();

    placeOverHost();
    hide();
}

PlaybackControls::~PlaybackControls() = default;

void PlaybackControls::attach(MpvEngine* engine) {
    if (!engine || m_engine == engine)
        return;
    m_engine = engine;
    connect(engine, &MpvEngine::propertyChanged, this, &PlaybackControls::onProperty);
    try {
        // Without looping, stop on the last picture instead of going blank, so Play can start
        // over; and a newly set movie always starts playing, even after a pause.
        engine->setProperty("keep-open", QStringLiteral("yes"));
        engine->setProperty("reset-on-next-file", QStringLiteral("pause"));
        // The slider's scale is the engine's whole range, so stepping stops at its end.
        engine->setProperty("volume-max", controls::kVolumeMax);
        for (const char* name :
             {"pause", "time-pos", "duration", "volume", "mute", "loop-file", "eof-reached"})
            engine->observe(name);
    } catch (const std::exception&) {
        // The movie still plays; the bar then shows what it last knew.
    }
    syncActions();
}

void PlaybackControls::onProperty(const QString& name, const QVariant& value) {
    if (name == QLatin1String("pause"))
        m_paused = value.toBool();
    else if (name == QLatin1String("time-pos"))
        m_position = toNumber(value);
    else if (name == QLatin1String("duration"))
        m_duration = toNumber(value);
    else if (name == QLatin1String("volume"))
        m_volume = value.isValid() ? toNumber(value) : m_volume;
    else if (name == QLatin1String("mute"))
        m_muted = value.toBool();
    else if (name == QLatin1String("loop-file"))
        m_looping = loopFrom(value);
    else if (name == QLatin1String("eof-reached"))
        m_eof = value.toBool();
    else
        return;
    syncActions();
    if (isVisible())
        update();
    emit stateChanged();
}

void PlaybackControls::send(const QStringList& command) {
    if (!m_engine)
        return;
    try {
        m_engine->commandAsync(command);
    } catch (const std::exception&) {
        // A refused command leaves the picture as it is; there is nothing to tell.
    }
}

void PlaybackControls::sendProperty(const char* name, const QVariant& value) {
    if (!m_engine)
        return;
    try {
        m_engine->setPropertyAsync(name, value);
    } catch (const std::exception&) {
        // As above: the next report from the engine shows the real state.
    }
}

// What the bar shows is only ever what the engine last reported. Toggles and steps are done by
// the engine itself, so presses quicker than its reports still add up correctly.

void PlaybackControls::togglePause() {
    if (m_eof) {
        // Stopped on the last picture: Play starts again from the beginning.
        seekTo(0);
        setPaused(false);
        return;
    }
    send({QStringLiteral("no-osd"), QStringLiteral("cycle"), QStringLiteral("pause")});
}

void PlaybackControls::setPaused(bool paused) {
    sendProperty("pause", paused);
}

void PlaybackControls::seekBy(double seconds) {
    send({QStringLiteral("no-osd"), QStringLiteral("seek"), QString::number(seconds),
          QStringLiteral("relative")});
}

void PlaybackControls::seekTo(double seconds) {
    send({QStringLiteral("no-osd"), QStringLiteral("seek"), QString::number(seconds),
          QStringLiteral("absolute")});
}

void PlaybackControls::setVolume(double volume) {
    sendProperty("volume", controls::clamped_volume(volume));
}

void PlaybackControls::stepVolume(int steps) {
    send({QStringLiteral("no-osd"), QStringLiteral("add"), QStringLiteral("volume"),
          QString::number(steps * controls::kVolumeStep)});
}

void PlaybackControls::setMuted(bool muted) {
    sendProperty("mute", muted);
}

void PlaybackControls::toggleMute() {
    send({QStringLiteral("no-osd"), QStringLiteral("cycle"), QStringLiteral("mute")});
}

void PlaybackControls::setLooping(bool looping) {
    sendProperty("loop-file", looping ? QStringLiteral("inf") : QStringLiteral("no"));
    syncActions();
}

bool PlaybackControls::handleKey(int key, Qt::KeyboardModifiers modifiers, bool autoRepeat) {
    using controls::KeyAction;
    const KeyAction action = controls::key_action(
        key, modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier),
        modifiers & Qt::ShiftModifier, autoRepeat);
    if (action == KeyAction::None || !attached())
        return false;
    switch (action) {
    case KeyAction::TogglePause:
        togglePause();
        break;
    case KeyAction::SeekBack:
        seekBy(-controls::kKeySeekSeconds);
        break;
    case KeyAction::SeekForward:
        seekBy(controls::kKeySeekSeconds);
        break;
    case KeyAction::VolumeUp:
        stepVolume(1);
        break;
    case KeyAction::VolumeDown:
        stepVolume(-1);
        break;
    case KeyAction::ToggleMute:
        toggleMute();
        break;
    case KeyAction::ToStart:
        seekTo(0);
        break;
    case KeyAction::None:
        break;
    }
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

void PlaybackControls::syncActions() {
    for (QAction* action : {m_play, m_loop, m_rewind, m_forward, m_back})
        action->setEnabled(attached());
    m_play->setChecked(attached() && !m_paused && !m_eof);
    m_loop->setChecked(m_looping);
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
    syncActions();
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
    const double shown = m_drag == Drag::Seek ? m_dragFraction * m_duration : m_position;
    return QString::fromStdString(controls::format_time(shown)) + QStringLiteral(" / ") +
           QString::fromStdString(controls::format_time(m_duration));
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
        togglePause();
        break;
    case controls::BarPart::Mute:
        toggleMute();
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
        if (m_duration > 0)
            seekTo(fraction * m_duration);
        update();
    } else if (m_drag == Drag::Volume) {
        m_dragVolume = controls::fraction_on(layout.volume, x) * controls::kVolumeMax;
        setVolume(m_dragVolume);
        update();
    }
}

void PlaybackControls::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), QColor(0, 0, 0, 150));
    const controls::BarLayout l = barLayout();
    const QColor ink(235, 235, 235);
    const QColor dim(255, 255, 255, 70);
    const QColor accent(90, 170, 255);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);

    // Play shows a triangle while paused, two bars while playing.
    if (!l.play.empty()) {
        const QRectF r = toQt(l.play);
        const QPointF c = r.center();
        if (m_paused || m_eof) {
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

    if (!l.time.empty()) {
        p.setPen(ink);
        p.setFont(barFont(font()));
        p.drawText(toQt(l.time), Qt::AlignVCenter | Qt::AlignLeft, timeText());
        p.setPen(Qt::NoPen);
    }

    const auto drawTrack = [&](const controls::Rect& track, double fraction, const QColor& fill,
                               bool knob) {
        if (track.empty())
            return;
        const QRectF r = toQt(track);
        const double cy = r.center().y();
        p.setBrush(dim);
        p.drawRoundedRect(QRectF(r.left(), cy - 2, r.width(), 4), 2, 2);
        p.setBrush(fill);
        p.drawRoundedRect(QRectF(r.left(), cy - 2, r.width() * fraction, 4), 2, 2);
        if (knob) {
            p.setBrush(ink);
            p.drawEllipse(QPointF(r.left() + r.width() * fraction, cy), 5, 5);
        }
    };
    const double played =
        m_drag == Drag::Seek ? m_dragFraction : controls::played_fraction(m_position, m_duration);
    drawTrack(l.seek, played, accent, m_duration > 0);

    if (!l.mute.empty()) {
        const QPointF c = toQt(l.mute).center();
        QPainterPath speaker;
        speaker.moveTo(c.x() - 7, c.y() - 3);
        speaker.lineTo(c.x() - 4, c.y() - 3);
        speaker.lineTo(c.x(), c.y() - 7);
        speaker.lineTo(c.x(), c.y() + 7);
        speaker.lineTo(c.x() - 4, c.y() + 3);
        speaker.lineTo(c.x() - 7, c.y() + 3);
        speaker.closeSubpath();
        p.setBrush(ink);
        p.drawPath(speaker);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(ink, 1.5));
        if (m_muted) {
            p.drawLine(QPointF(c.x() + 3, c.y() - 3), QPointF(c.x() + 8, c.y() + 3));
            p.drawLine(QPointF(c.x() + 3, c.y() + 3), QPointF(c.x() + 8, c.y() - 3));
        } else {
            p.drawArc(QRectF(c.x() - 3, c.y() - 4, 8, 8), -50 * 16, 100 * 16);
            p.drawArc(QRectF(c.x() - 3, c.y() - 7, 14, 14), -50 * 16, 100 * 16);
        }
        p.setPen(Qt::NoPen);
    }

    const double volume = m_drag == Drag::Volume ? m_dragVolume : m_volume;
    drawTrack(l.volume, volume / controls::kVolumeMax, m_muted ? dim : ink, false);
}

} // namespace movarin
