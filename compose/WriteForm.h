#pragma once
// "新規作成": the compose window.

#include <QWidget>

namespace lumopet {

class WindowDirectory;

class WriteForm : public QWidget {
    Q_OBJECT
public:
    explicit WriteForm(WindowDirectory& windows, QWidget* parent = nullptr);
    void Form_Load();
};

}  // namespace lumopet
