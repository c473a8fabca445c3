#pragma once
// "送信の設定": the switches of lumopet.ini's [Compose], all off until the
// user turns one on. OK writes only these keys (the signatures the
// signature window saved stay); a write that fails is shown and the window
// stays with the boxes as ticked.

#include "compose/compose_settings_window.h"

class QCheckBox;
class QGroupBox;

namespace lumopet {

class ComposeOptionsForm : public ComposeSettingsWindow {
    Q_OBJECT
public:
    explicit ComposeOptionsForm(WindowDirectory& windows, QWidget* parent = nullptr);

    void Form_Load();
    void OkCommand_Click();

    // The boxes show these options; and what they say now, over `base` for
    // what the window does not show.
    void ShowOptions(const ComposeOptions& options);
    ComposeOptions ChosenOptions(ComposeOptions base) const;

    QGroupBox* SendFrame;
    QCheckBox* ConfirmCheck;
    QCheckBox* WidenKanaCheck;
    QCheckBox* WrapCheck;
    QGroupBox* ReplyFrame;
    QCheckBox* QuoteCheck;
    QCheckBox* KeepRepliesCheck;
    QPushButton* OkCommand;
};

}  // namespace lumopet
