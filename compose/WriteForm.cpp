#include "compose/WriteForm.h"

namespace lumopet {

WriteForm::WriteForm(WindowDirectory&, QWidget* parent) : QWidget(parent) {}

void WriteForm::Form_Load() {}

}  // namespace lumopet
