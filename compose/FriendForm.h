#pragma once
// "アドレス帳": lists, adds and deletes the entries of the address book.

#include <QWidget>

namespace lumopet {

class WindowDirectory;

class FriendForm : public QWidget {
    Q_OBJECT
public:
    explicit FriendForm(WindowDirectory& windows, QWidget* parent = nullptr);
    void Form_Load();
};

}  // namespace lumopet
