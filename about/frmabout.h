#pragma once

#include "about/placement.h"

#include <QDialog>
#include <QLabel>

class QPushButton;

namespace movarin::about {

// A picture that reports a click (press and release of the left button on it) and every move of
// the pointer over it, pressed or not.
class PictureBox : public QLabel {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent = nullptr);

signals:
    void Click();
    void MouseMove();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    bool m_pressed = false;
};

// The borderless About window: one picture that says it all, a small OK picture in its corner,
// and an unseen "ok" button that holds the keyboard focus so that Enter and Space close it.
class frmabout : public QDialog {
    Q_OBJECT
public:
    // Throws std::runtime_error when a picture cannot be read.
    frmabout(QWidget* owner, double twipsPerPixelX, double twipsPerPixelY);

    // Places the window against its owner's rectangle; runs before the window is first shown.
    // A placement that fails leaves the window where it stands.
    void Form_Load(const OwnerTwips& owner);

    float Left() const { return m_left; }
    float Top() const { return m_top; }
    float Width() const { return kFormWidth; }
    float Height() const { return kFormHeight; }
    void setLeft(float twips);
    void setTop(float twips);

    PictureBox* Image1 = nullptr;
    PictureBox* imgok = nullptr;
    QPushButton* cmdok = nullptr;

public slots:
    void cmdok_Click();
    void Image1_Click();
    void imgok_Click();
    void imgok_MouseMove();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QRect pixelRect(float left, float top, float width, float height) const;

    double m_tppX;
    double m_tppY;
    float m_left = 0;
    float m_top = 0;
};

// Creates the About window for the owner, places it, and shows it modally; returns once it is
// closed, and the window is gone by then.
void show_about(QWidget* owner, const OwnerTwips& ownerRect, double twipsPerPixelX,
                double twipsPerPixelY);

} // namespace movarin::about
