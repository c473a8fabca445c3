#include "compose/BackForm.h"

namespace lumopet {

BackForm::BackForm(WindowDirectory&, QWidget* parent) : QWidget(parent) {}

void BackForm::Form_Load() {}

void BackForm::FillReply(const ReplySource&) {}

}  // namespace lumopet
