#include "compose/attachment_controls.h"

#include "ui/file_dialog.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace lumopet {
namespace {

void appendChosen(const AttachmentControls& c) {
    const QString path = ChooseAttachment(c.window);
    if (path.isEmpty()) return;
    c.paths->setText(c.paths->text().isEmpty() ? path : c.paths->text() + u',' + path);
    c.list->addItem(path);
}

}  // namespace

void AttachmentControls::AttachFirst() const {
    add->setEnabled(true);
    remove->setEnabled(true);
    paths->clear();
    appendChosen(*this);
    attach->setEnabled(false);
}

void AttachmentControls::AddAnother() const {
    list->show();
    list->raise();
    if (!paths->text().isEmpty()) appendChosen(*this);
}

void AttachmentControls::RemoveAll() const {
    paths->clear();
    list->clear();
    list->hide();
    add->setEnabled(false);
    remove->setEnabled(false);
    attach->setEnabled(true);
}

void AttachmentControls::SetAll(const QStringList& files) const {
    paths->setText(files.join(u','));
    list->clear();
    list->addItems(files);
    if (files.isEmpty()) return;
    attach->setEnabled(false);
    add->setEnabled(true);
    remove->setEnabled(true);
}

}  // namespace lumopet
