#pragma once
// The history viewer: either history listed, a message shown, deleted,
// answered, its sender registered; also a small text editor.

#include "store/history_record.h"

#include <QWidget>

namespace lumopet {

class WindowDirectory;

class TyakuForm : public QWidget {
    Q_OBJECT
public:
    explicit TyakuForm(WindowDirectory& windows, QWidget* parent = nullptr);
    void Form_Load();
    // Loading a history: the caption, the list filled, the last record shown.
    void LoadHistory(History history);
};

}  // namespace lumopet
