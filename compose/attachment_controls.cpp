#include "compose/attachment_controls.h"

#include "mail/message_builder.h"
#include "ui/file_dialog.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace lumopet {
namespace {

void appendChosen(const AttachmentControls& c) {
    const QString path = ChooseAttachment(c.window);
    if (path.isEmpty()) return;
    // Files typed into the box before are kept as the box read them.
    *c.files = AttachedFiles(c.paths->text(), *c.files);
    c.files->append(path);
    c.paths->setText(c.files->join(u','));
    c.list->addItem(path);
}

}  // namespace

QStringList AttachedFiles(const QString& boxText, const QStringList& chosen) {
    if (boxText == chosen.join(u',')) return chosen;
    return mail::AttachmentPaths(boxText);
}

void AttachmentControls::AttachFirst() const {
    add->setEnabled(true);
    remove->setEnabled(true);
    paths->clear();
    files->clear();
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
    files->clear();
    list->clear();
    list->hide();
    add->setEnabled(false);
    remove->setEnabled(false);
    attach->setEnabled(true);
}

void AttachmentControls::SetAll(const QStringList& chosen) const {
    *files = chosen;
    paths->setText(chosen.join(u','));
    list->clear();
    list->addItems(chosen);
    if (chosen.isEmpty()) return;
    attach->setEnabled(false);
    add->setEnabled(true);
    remove->setEnabled(true);
}

}  // namespace lumopet
