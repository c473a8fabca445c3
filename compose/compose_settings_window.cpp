#include "compose/compose_settings_window.h"

#include "core/program.h"
#include "core/twips.h"
#include "ui/message_box.h"
#include "ui/window_directory.h"
#include "ui/window_helpers.h"

#include <QKeyEvent>
#include <QPushButton>

namespace lumopet {

ComposeSettingsWindow::ComposeSettingsWindow(WindowDirectory& windows, const QString& title, int widthTwips,
                                             int heightTwips, QWidget* parent)
    : QWidget(parent), program_(windows.program()), widthTwips_(widthTwips) {
    // A fixed single border and a close box, as the other option windows.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(title);
    setFont(JapaneseFont(9));
    setFixedSize(place(0, 0, widthTwips, heightTwips).size());
}

QRect ComposeSettingsWindow::place(int left, int top, int width, int height) const {
    return TwipsToPixels(Twips{left, top, width, height}, logicalDpiY());
}

QPushButton* ComposeSettingsWindow::addButtons(const QString& okText, int top) {
    auto* ok = new QPushButton(okText, this);
    ok->setGeometry(place(widthTwips_ - 2700, top, 1200, 375));
    CancelCommand = new QPushButton(QStringLiteral("キャンセル"), this);
    CancelCommand->setGeometry(place(widthTwips_ - 1320, top, 1200, 375));
    // As in the other option windows: Enter presses the button that has
    // the focus (in a text box it is a line break), no default button.
    for (QPushButton* button : {ok, CancelCommand}) button->setAutoDefault(true);
    connect(CancelCommand, &QPushButton::clicked, this, &ComposeSettingsWindow::CancelCommand_Click);
    return ok;
}

void ComposeSettingsWindow::showStoredOptions(const std::function<void(const ComposeOptions&)>& show) {
    // Read now: the other window may have saved since the compose window
    // read the file.
    const Result<ComposeOptions> read = ReadComposeOptions(program_.paths.path(files::ProgramOptions));
    show(read ? read.value() : ComposeOptions{});
    CentreOnScreen(this);
    // The file stays untouched: a write then fails too, and says why.
    if (!read) showProblem(read.error());
}

void ComposeSettingsWindow::writeOptions(const std::function<void(ComposeOptions&)>& change) {
    const Status written = UpdateComposeOptions(program_.paths.path(files::ProgramOptions), change);
    if (!written) {
        showProblem(written.error());
        return;
    }
    close();
}

void ComposeSettingsWindow::showProblem(const QString& text) { ShowError(this, QStringLiteral("エラー"), text); }

void ComposeSettingsWindow::CancelCommand_Click() { close(); }

void ComposeSettingsWindow::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel)) {
        CancelCommand->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace lumopet
