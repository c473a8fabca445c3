#pragma once
// "署名の編集": the three signatures of lumopet.ini's [Compose] and the one a
// new message gets, opened from the compose window. 保存 writes only these
// keys (what the options window saved meanwhile stays); a write that fails
// is shown and the window stays with everything typed, to try again.

#include <QWidget>

#include <array>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace lumopet {

class WindowDirectory;
struct Program;

class SignatureForm : public QWidget {
    Q_OBJECT
public:
    explicit SignatureForm(WindowDirectory& windows, QWidget* parent = nullptr);

    void Form_Load();
    void SaveCommand_Click();
    void CancelCommand_Click();

    QTabWidget* SignatureTabs;
    // 署名1 to 署名3, one page each.
    std::array<QPlainTextEdit*, 3> SignatureText;
    QLabel* DefaultLabel;
    // なし, 署名1, 署名2, 署名3: the index is DefaultSignature.
    QComboBox* DefaultCombo;
    QPushButton* SaveCommand;
    QPushButton* CancelCommand;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QRect place(int left, int top, int width, int height) const;

    Program& program_;
};

}  // namespace lumopet
