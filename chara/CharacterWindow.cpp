#include "chara/CharacterWindow.h"

#include "chara/desktop_window_hints.h"
#include "chara/x11_character_surface.h"

#include "core/moods.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace lumopet {

CharacterWindow::CharacterWindow(int windowNumber)
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool | Qt::WindowDoesNotAcceptFocus),
      windowNumber_(windowNumber),
      mood_(LinkOfWindow(windowNumber).mood),
      art_(LoadCharacterArt(mood_)) {
    setObjectName(QStringLiteral("Form%1").arg(windowNumber));
    setWindowTitle(CharacterCaption(mood_));
    setWindowIcon(QIcon(QStringLiteral(":/lumopet/lumopet_icon.png")));
    // A character that walks past, or is picked up, must not take the
    // keyboard from the window the user is typing in.
    setAttribute(Qt::WA_ShowWithoutActivating);
    // Every paint covers the whole window with an opaque picture: nothing
    // to clear first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    for (int k = 0; k < 8; ++k) Picture1[k] = QPixmap::fromImage(art_.frames[k]);
    Timer1 = new QTimer(this);
    Timer1->setInterval(200);
    connect(Timer1, &QTimer::timeout, this, &CharacterWindow::Timer1_Timer);
}

CharacterWindow::~CharacterWindow() = default;

void CharacterWindow::Show() {
    if (!loaded_) Form_Load();
    if (keptAway_) {
        // Loaded where it would have come up, to come out there later.
        Timer1->stop();
        return;
    }
    KeepOutOfTaskbarAndPager(*this);
    show();
}

void CharacterWindow::KeepAway(bool away) {
    if (away == keptAway_) return;
    keptAway_ = away;
    if (!loaded_) return;
    if (away) {
        Timer1->stop();
        dragOffset_.reset();
        hide();
        return;
    }
    // Qt is not told of the steps on an X server: it learns the place here,
    // so that showing the window maps it where it stepped aside.
    setGeometry(QRect(place(), size()));
    KeepOutOfTaskbarAndPager(*this);
    show();
    Timer1->start();
}

void CharacterWindow::Unload() {
    Timer1->stop();
    hide();
    loaded_ = false;
}

void CharacterWindow::BuildFrameRegions() {
    for (int k = 0; k < 8; ++k) {
        FrameRegions[k] = BuildFrameOutline(art_.frames[k]);
        frameShapes_[k] = OutlineRegion(FrameRegions[k]);
    }
}

QRegion CharacterWindow::shape() const {
    if (surface_) return surface_->shape();
    return windowHandle() ? windowHandle()->mask() : QRegion();
}

QPoint CharacterWindow::place() const { return surface_ ? surface_->place() : geometry().topLeft(); }

// The shape goes to the native window rather than through QWidget::setMask:
// a widget mask would also cut every repaint into the outline's rectangles,
// each sent to the window system as an image of its own, where the window
// system already clips one image of the whole square to the shape.
void CharacterWindow::setShape(const QRegion& shape) {
    if (!windowHandle()) create();
    windowHandle()->setMask(shape);
}

// The window has no frame: its place is that of its client area. Only a
// change of place goes to the window system. On an X server Qt is not told
// of a step, which would cost a reply; it is told where a hidden window
// will come up, so that showing it puts it there.
void CharacterWindow::placeAt(QPoint topLeft) {
    if (surface_) {
        surface_->moveTo(topLeft);
        if (!isVisible()) setGeometry(QRect(topLeft, size()));
    } else if (topLeft != geometry().topLeft()) {
        setGeometry(QRect(topLeft, size()));
    }
}

// A tick's requests go out together, in one write.
void CharacterWindow::sendToServer() {
    if (surface_) surface_->flush();
}

void CharacterWindow::showFrame(int frame) {
    if (frame != shownFrame_) present(frame);
}

void CharacterWindow::present(int frame) {
    shownFrame_ = frame;
    if (surface_) {
        surface_->showFrame(frame);
        return;
    }
    picture_ = frame < 0 ? QPixmap::fromImage(art_.initial) : Picture1[frame];
    setShape(frame < 0 ? QRegion() : frameShapes_[frame]);
    update();
}

void CharacterWindow::Form_Load() {
    BuildFrameRegions();
    setFixedSize(Picture1[0].isNull() ? QSize(kFrameSize, kFrameSize) : Picture1[0].size());
    TwipsX = 1440.0 / logicalDpiX();
    TwipsY = 1440.0 / logicalDpiY();
    if (!surface_) surface_ = X11CharacterSurface::Create(*this, {art_.initial, art_.frames, frameShapes_});
    // Until the first tick the window is its initial picture, a plain
    // square at the mouse.
    present(-1);
    placeAt(QCursor::pos());
    sendToServer();
    Motion.StepX = -5;
    Motion.StepY = -2;
    loaded_ = true;
    Timer1->start();
}

void CharacterWindow::Timer1_Timer() {
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    const QPoint here = place();
    const QPoint topLeft(RoundHalfEven(here.x() * TwipsX), RoundHalfEven(here.y() * TwipsY));
    const QSize window(RoundHalfEven(width() * TwipsX), RoundHalfEven(height() * TwipsY));
    const QSize screenTwips(RoundHalfEven(screen.width() * TwipsX), RoundHalfEven(screen.height() * TwipsY));
    const TickResult tick = TickCharacter(Motion, topLeft, window, screenTwips, TwipsX, TwipsY, CharacterRandom());
    if (!dragOffset_) placeAt(QPoint(RoundHalfEven(tick.topLeft.x() / TwipsX), RoundHalfEven(tick.topLeft.y() / TwipsY)));
    showFrame(tick.frame);
    sendToServer();
}

void CharacterWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, picture_);
}

void CharacterWindow::mousePressEvent(QMouseEvent* event) {
    switch (event->button()) {
    case Qt::LeftButton:
        // The window follows the mouse itself rather than being handed to
        // the window manager's move: under a window manager the walk went on
        // while the user held the character, which then jumped to the drop
        // point. Held by hand, it stays under the cursor and walks on from
        // where it is dropped.
        dragOffset_ = event->position().toPoint();
        break;
    case Qt::RightButton:
        // Ends the whole program at once, by the program's one way out: no
        // window runs its closing steps, but what is typed is kept first.
        Q_EMIT endProgramRequested();
        break;
    default:
        break;
    }
    event->accept();
}

void CharacterWindow::mouseMoveEvent(QMouseEvent* event) {
    if (dragOffset_ && (event->buttons() & Qt::LeftButton)) {
        placeAt(event->globalPosition().toPoint() - *dragOffset_);
        sendToServer();
    }
    event->accept();
}

void CharacterWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) dragOffset_.reset();
    event->accept();
}

// After the second press of a double click. Each press picked the
// character up as any press does, and the hand lets go with the release as
// ever. The drag is by hand, not the window manager's move, which would
// take the second press for itself.
void CharacterWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) Q_EMIT receivedHistoryRequested();
    event->accept();
}

}  // namespace lumopet
