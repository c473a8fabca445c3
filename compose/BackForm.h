#pragma once
// "返事を書く": the reply window.

#include "ui/window_directory.h"

#include <QWidget>

namespace lumopet {

class BackForm : public QWidget {
    Q_OBJECT
public:
    explicit BackForm(WindowDirectory& windows, QWidget* parent = nullptr);
    void Form_Load();
    // Recipient, subject and body from the message answered; the
    // attachments stay as they are.
    void FillReply(const ReplySource& reply);
};

}  // namespace lumopet
