#pragma once

#include <QLabel>
#include <QMouseEvent>

namespace lumopet {

// A transparent label that reacts like a button: a click (press and release
// of the left button on it) and every move of the mouse over it.
class HotSpotLabel : public QLabel {
    Q_OBJECT
public:
    explicit HotSpotLabel(QWidget* parent) : QLabel(parent) { setMouseTracking(true); }

Q_SIGNALS:
    void clicked();
    void mouseMoved();

protected:
    void mousePressEvent(QMouseEvent* event) override {
        pressed_ = event->button() == Qt::LeftButton;
        event->accept();
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
        pressed_ = false;
        event->accept();
        if (click) Q_EMIT clicked();
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        event->accept();
        Q_EMIT mouseMoved();
    }

private:
    bool pressed_ = false;
};

}  // namespace lumopet
