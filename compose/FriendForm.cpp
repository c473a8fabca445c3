#include "compose/FriendForm.h"

namespace lumopet {

FriendForm::FriendForm(WindowDirectory&, QWidget* parent) : QWidget(parent) {}

void FriendForm::Form_Load() {}

}  // namespace lumopet
