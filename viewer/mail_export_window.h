#pragma once
// メールの書き出し: the records the history viewer shows (all of them, or
// the one selected) written as an mboxrd file or as .eml files in a folder.

#include "core/program.h"
#include "store/history_record.h"

#include <vector>

class QWidget;

namespace lumopet {

// A small modal window: which records, which form, then the target through
// the file dialogs; the export runs off the window's thread with its
// progress and キャンセル, and ends with a sentence giving the count.
// shownRecords are record numbers from 1 in list order; chosenRecord is
// the selected one, 0 when none (then "選択中の 1 件" cannot be chosen).
void ShowMailExportWindow(QWidget* parent, Program& program, History history, std::vector<int> shownRecords,
                          int chosenRecord);

}  // namespace lumopet
