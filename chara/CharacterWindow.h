#pragma once
// One character window: a frameless, always-on-top window cut to the
// outline of its 64 x 64 picture, walking over the desktop every 200 ms.
// Five of them (Form1 to Form5) live for the whole run; unloading one only
// hides it and stops its timer, so its fields carry over to the next load.
//
// A tick costs as little as it can: the outlines are made into shapes once
// per load, the window is reshaped and repainted only when its frame
// changes, and nothing runs between ticks. On an X server the server keeps
// the pictures and draws the window itself (X11CharacterSurface); Qt paints
// it elsewhere.

#include "chara/character_art.h"
#include "chara/character_motion.h"
#include "chara/frame_outline.h"

#include <QPixmap>
#include <QRegion>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>

class QTimer;

namespace lumopet {

class X11CharacterSurface;

class CharacterWindow : public QWidget {
    Q_OBJECT
public:
    // windowNumber: K of FormK, 1 to 5.
    explicit CharacterWindow(int windowNumber);
    ~CharacterWindow() override;

    int windowNumber() const { return windowNumber_; }
    int mood() const { return mood_; }
    bool isLoaded() const { return loaded_; }

    // Loads the window when it is not loaded (at the mouse, steps (-5, -2))
    // and shows it; a window already shown goes on as it was.
    void Show();
    // Hides the window and stops its walk; the next Show loads it again.
    void Unload();
    // Steps aside (hidden, its walk stopped) while away is true, and comes
    // back where it was, walking on, when it turns false. A window loaded
    // meanwhile waits aside too. An unloaded window stays unloaded.
    void KeepAway(bool away);
    bool isKeptAway() const { return keptAway_; }

    void Form_Load();
    // The outline of each of the eight frames, from its pixels, and the
    // window shape made from it.
    void BuildFrameRegions();
    void Timer1_Timer();

    // The window's shape as the window system has it; empty when the
    // window is a plain square.
    QRegion shape() const;
    // The frame shown, -1 for the initial picture.
    int shownFrame() const { return shownFrame_; }
    // The window's top-left corner on the screen.
    QPoint place() const;

    QTimer* Timer1;
    std::array<QPixmap, 8> Picture1;
    std::array<FrameOutline, 8> FrameRegions{};
    double TwipsX = 15;
    double TwipsY = 15;
    CharacterMotion Motion;

Q_SIGNALS:
    // A right click on the character: the program ends at once, as the
    // main window's close does (ProgramWindows connects it there).
    void endProgramRequested();
    // A double click on the character: 着信履歴, for the mail it came for.
    void receivedHistoryRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;   // Form_MouseDown
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void setShape(const QRegion& shape);
    void placeAt(QPoint topLeft);
    void showFrame(int frame);
    // Shows the frame (-1: the initial picture) even when it is shown.
    void present(int frame);
    void sendToServer();

    const int windowNumber_;
    const int mood_;
    const CharacterArt art_;
    QPixmap picture_;
    std::array<QRegion, 8> frameShapes_;
    // On an X server the server draws and moves the window itself; null
    // elsewhere, where Qt paints it.
    std::unique_ptr<X11CharacterSurface> surface_;
    int shownFrame_ = -1;
    bool loaded_ = false;
    bool keptAway_ = false;
    // Set while the window is dragged by hand, where the window system
    // cannot move it itself.
    std::optional<QPoint> dragOffset_;
};

}  // namespace lumopet
