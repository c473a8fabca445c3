#pragma once
// "サーバー設定": the SMTP server, the POP3 server, the own address and the
// login kind. OK writes them to sorane.ini at once; the values in memory
// change with it, so the next mail check uses them without a restart.

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace lumopet {

class WindowDirectory;
struct Program;

class OptionForm : public QWidget {
    Q_OBJECT
public:
    explicit OptionForm(WindowDirectory& windows, QWidget* parent = nullptr);

    void Form_Load();
    void OkCommand_Click();
    void CancelCommand_Click();

    QLabel* Label1;
    QLineEdit* SmtpText;
    QLabel* Label2;
    QLineEdit* Pop3Text;
    QLabel* Label3;
    QLineEdit* MailText;
    QCheckBox* ApopCheck;
    QPushButton* OkCommand;
    QPushButton* CancelCommand;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QRect place(int left, int top, int width, int height) const;

    Program& program_;
};

}  // namespace lumopet
