#include "viewer/TyakuForm.h"

namespace lumopet {

TyakuForm::TyakuForm(WindowDirectory&, QWidget* parent) : QWidget(parent) {}

void TyakuForm::Form_Load() {}

void TyakuForm::LoadHistory(History) {}

}  // namespace lumopet
