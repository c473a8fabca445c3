#pragma once
// "ID,PASS": the POP3 login name and password. The box shows whether a
// password is kept. OK with the box ticked keeps the ID in iniIdPass.ini and
// the password in the desktop's keyring (in the file when no keyring
// answers); with the box cleared, no password stays kept anywhere, and the
// next mail check asks for it again.

#include <QWidget>

#include <array>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace lumopet {

class WindowDirectory;
struct Program;

class IdPassForm : public QWidget {
    Q_OBJECT
public:
    explicit IdPassForm(WindowDirectory& windows, QWidget* parent = nullptr);

    void Form_Load();
    void OKCommand_Click();
    void CancelCommand_Click();

    // The mail check asks for the account with the boxes already filled.
    void SetAccountTexts(const QString& id, const QString& password);

    QLabel* Label1;
    QLineEdit* IdText;
    std::array<QLabel*, 2> Label2;
    QLineEdit* PassText;
    QCheckBox* Check1;
    QPushButton* OKCommand;
    QPushButton* CancelCommand;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QRect place(int left, int top, int width, int height) const;

    Program& program_;
};

}  // namespace lumopet
