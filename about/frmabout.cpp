#include "about/frmabout.h"

#include "common/twips.h"

#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>

#include <stdexcept>

// The pictures live in a static library: pull its resources in before the first use.
static void initAboutResources() {
    Q_INIT_RESOURCE(about);
}

namespace movarin::about {

namespace {

constexpr char kCloseTip[] = "To close the current screen";
// The fingertip of the hand pointer.
constexpr int kHandHotX = 5;
constexpr int kHandHotY = 0;

QPixmap picture(const QString& name) {
    QPixmap pixmap(name);
    if (pixmap.isNull())
        throw std::runtime_error("Cannot read the picture " + name.toStdString());
    return pixmap;
}

} // namespace

PictureBox::PictureBox(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Moves count even with no button held.
    setMouseTracking(true);
}

void PictureBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        m_pressed = true;
    event->accept();
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = m_pressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton)
        m_pressed = false;
    event->accept();
    if (click)
        emit Click();
}

void PictureBox::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    emit MouseMove();
}

frmabout::frmabout(QWidget* owner, double twipsPerPixelX, double twipsPerPixelY)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint), m_tppX(twipsPerPixelX),
      m_tppY(twipsPerPixelY) {
    initAboutResources();
    setObjectName(QStringLiteral("frmabout"));
    setWindowModality(Qt::ApplicationModal);
    setFixedSize(pixelRect(0, 0, kFormWidth, kFormHeight).size());
    // Until Form_Load places it, the window stands at the top-left corner; without this Qt would
    // centre it over the owner, hiding a failed placement.
    move(0, 0);

    Image1 = new PictureBox(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(picture(QStringLiteral(":/about/about.jpg")));
    Image1->setGeometry(pixelRect(0, 0, kFormWidth, kFormHeight));

    imgok = new PictureBox(this);
    imgok->setObjectName(QStringLiteral("imgok"));
    imgok->setPixmap(picture(QStringLiteral(":/about/ok.gif")));
    imgok->setGeometry(pixelRect(5120, 2520, 480, 315));
    imgok->setCursor(QCursor(picture(QStringLiteral(":/about/hand.png")), kHandHotX, kHandHotY));

    // Below the window's lower edge, so never seen; it is there to take Enter and Space.
    cmdok = new QPushButton(QStringLiteral("ok"), this);
    cmdok->setObjectName(QStringLiteral("cmdok"));
    cmdok->setGeometry(pixelRect(4920, 3600, 495, 375));
    cmdok->setDefault(false);
    // Enter reaches a focused button only as an auto-default one; it is still nobody's default.
    cmdok->setAutoDefault(true);
    cmdok->setFocus();

    connect(cmdok, &QPushButton::clicked, this, &frmabout::cmdok_Click);
    connect(Image1, &PictureBox::Click, this, &frmabout::Image1_Click);
    connect(imgok, &PictureBox::Click, this, &frmabout::imgok_Click);
    connect(imgok, &PictureBox::MouseMove, this, &frmabout::imgok_MouseMove);
}

QRect frmabout::pixelRect(float left, float top, float width, float height) const {
    return QRect(twips::to_pixels(left, m_tppX), twips::to_pixels(top, m_tppY),
                 twips::to_pixels(width, m_tppX), twips::to_pixels(height, m_tppY));
}

void frmabout::setLeft(float twips) {
    const int x = twips::to_pixels(twips, m_tppX);
    m_left = twips;
    move(x, pos().y());
}

void frmabout::setTop(float twips) {
    const int y = twips::to_pixels(twips, m_tppY);
    m_top = twips;
    move(pos().x(), y);
}

void frmabout::Form_Load(const OwnerTwips& owner) {
    try {
        const TwipsPoint place = form_load_position(owner, Width(), Height());
        setLeft(place.left);
        setTop(place.top);
    } catch (...) {
        // Not logged: the window is shown all the same, wherever it stands.
    }
}

void frmabout::cmdok_Click() {
    accept();
}

void frmabout::imgok_Click() {
    cmdok_Click();
}

void frmabout::Image1_Click() {
    accept();
}

void frmabout::imgok_MouseMove() {
    imgok->setToolTip(QString::fromLatin1(kCloseTip));
}

void frmabout::keyPressEvent(QKeyEvent* event) {
    // No cancel key: Escape must not close the window as it would any other dialog.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void show_about(QWidget* owner, const OwnerTwips& ownerRect, double twipsPerPixelX,
                double twipsPerPixelY) {
    QPointer<frmabout> window = new frmabout(owner, twipsPerPixelX, twipsPerPixelY);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->Form_Load(ownerRect);
    window->exec();
}

} // namespace movarin::about
