#pragma once
// "署名の編集": the three signatures of lumopet.ini's [Compose] and the one a
// new message gets, opened from the compose window. 保存 writes only these
// keys (what the options window saved meanwhile stays); a write that fails
// is shown and the window stays with everything typed, to try again.

#include "compose/compose_settings_window.h"

#include <array>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QTabWidget;

namespace lumopet {

class SignatureForm : public ComposeSettingsWindow {
    Q_OBJECT
public:
    explicit SignatureForm(WindowDirectory& windows, QWidget* parent = nullptr);

    void Form_Load();
    void SaveCommand_Click();

    QTabWidget* SignatureTabs;
    // 署名1 to 署名3, one page each.
    std::array<QPlainTextEdit*, 3> SignatureText;
    QLabel* DefaultLabel;
    // なし, 署名1, 署名2, 署名3: the index is DefaultSignature.
    QComboBox* DefaultCombo;
    QPushButton* SaveCommand;
};

}  // namespace lumopet
