#include "ui/message_box.h"

#include <QMessageBox>

namespace lumopet {
namespace {

MessageAnswerer& answerer() {
    static MessageAnswerer instance;
    return instance;
}

const QString kProgramName = QStringLiteral("ルモペット");

}  // namespace

void SetMessageAnswerer(MessageAnswerer newAnswerer) { answerer() = std::move(newAnswerer); }

MessageAnswer ShowMessage(QWidget* parent, const MessageRequest& request) {
    if (answerer()) return answerer()(request);
    const QString title = request.title.isEmpty() ? kProgramName : request.title;
    switch (request.kind) {
    case MessageKind::Question:
        return QMessageBox::question(parent, title, request.text, QMessageBox::Yes | QMessageBox::No) ==
                       QMessageBox::Yes
                   ? MessageAnswer::Yes
                   : MessageAnswer::No;
    case MessageKind::CautiousQuestion:
        return QMessageBox::question(parent, title, request.text, QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes
                   ? MessageAnswer::Yes
                   : MessageAnswer::No;
    case MessageKind::Error:
        QMessageBox::critical(parent, title, request.text);
        return MessageAnswer::Ok;
    case MessageKind::Warning:
        QMessageBox::warning(parent, title, request.text);
        return MessageAnswer::Ok;
    case MessageKind::RetryWarning:
        return QMessageBox::warning(parent, title, request.text, QMessageBox::Ok | QMessageBox::Cancel) ==
                       QMessageBox::Ok
                   ? MessageAnswer::Ok
                   : MessageAnswer::Cancel;
    case MessageKind::Notice:
        QMessageBox::information(parent, title, request.text);
        return MessageAnswer::Ok;
    }
    return MessageAnswer::Ok;
}

}  // namespace lumopet
