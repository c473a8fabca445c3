#pragma once
// What the two windows that write lumopet.ini's [Compose] (署名の編集 and
// 送信の設定) do alike: a fixed border with a close box; the file read as
// they open (one that cannot be read shows the defaults, stays untouched and
// is said); the change written by their OK button, which closes the window
// or, when the write fails, says why and keeps everything typed for another
// try; キャンセル and Esc close without writing.

#include "core/settings_files/compose_options.h"

#include <QWidget>

#include <functional>

class QPushButton;

namespace lumopet {

class WindowDirectory;
struct Program;

class ComposeSettingsWindow : public QWidget {
public:
    void CancelCommand_Click();

    QPushButton* CancelCommand = nullptr;

protected:
    // A window widthTwips by heightTwips.
    ComposeSettingsWindow(WindowDirectory& windows, const QString& title, int widthTwips, int heightTwips,
                          QWidget* parent);

    QRect place(int left, int top, int width, int height) const;
    // The OK button (saying okText) and キャンセル at the window's lower right,
    // their tops at top; returns the OK button.
    QPushButton* addButtons(const QString& okText, int top);
    // Shows lumopet.ini's options as the file holds them now (the defaults
    // when it cannot be read, which is then said), the window centred.
    void showStoredOptions(const std::function<void(const ComposeOptions&)>& show);
    // Writes only what change changes, and closes once written.
    void writeOptions(const std::function<void(ComposeOptions&)>& change);
    // Says a problem in a box over the window.
    void showProblem(const QString& text);

    void keyPressEvent(QKeyEvent* event) override;

    Program& program_;

private:
    int widthTwips_;
};

}  // namespace lumopet
