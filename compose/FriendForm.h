#pragma once
// "アドレス帳": lists, adds and deletes the entries of the address book.
// The window keeps nothing but its controls: the book is read again after
// every change, and row i of the list is always record i + 1 of the file.

#include <QWidget>

#include <array>

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace lumopet {

class WindowDirectory;
struct Program;

class FriendForm : public QWidget {
    Q_OBJECT
public:
    explicit FriendForm(WindowDirectory& windows, QWidget* parent = nullptr);

    void Form_Load();
    // "貼付": the clipboard's text into the address box.
    void Command1_Click();
    // The hidden reload button.
    void Command2_Click();
    // "登録"
    void Command4_Click();
    // "削除"
    void Command5_Click();

    // The 取込・書出 button's menu: contacts from a vCard or CSV file, and
    // the book out as vCard 4.0 or Google's CSV.
    void ImportContactsFromFile();
    void ExportContactsToFile(bool csv);

    void ReloadAddressList();
    void AddAddressEntry();
    void DeleteAddressEntry();

    std::array<QLabel*, 3> Label1;
    QLineEdit* Text4;
    QPushButton* Command1;
    QLineEdit* Text2;
    QPushButton* Command4;
    QPushButton* Command5;
    QLineEdit* Text3;
    QListWidget* List1;
    QFrame* Picture1;
    QLabel* Label7;
    QPushButton* Command2;
    QPushButton* TransferButton;
    QAction* ImportAction;
    QAction* ExportVCardAction;
    QAction* ExportCsvAction;

private:
    QRect place(int left, int top, int width, int height) const;
    QString bookPath() const;
    QString rewriteCopyPath() const;

    Program& program_;
};

}  // namespace lumopet
