#pragma once
// What the compose and the reply window share besides their controls: the
// signature box, the 設定 menu, the draft keeper and the completion under
// 宛先, CC and BCC. Both windows make them here, so that they follow the
// same rules.

#include "compose/address_completer.h"
#include "compose/draft_keeper.h"
#include "compose/signature_chooser.h"

#include <functional>
#include <initializer_list>

class QComboBox;
class QLabel;
class QPushButton;

namespace lumopet {

class WindowDirectory;
struct Program;

// The signature box over a window's body; the signatures are read from
// lumopet.ini at each choice.
SignatureChooser* MakeSignatureChooser(QComboBox* box, const Program& program, SignatureChooser::ReadBody readBody,
                                       SignatureChooser::WriteBody writeBody);

// 設定's menu: 署名の編集... and 送信の設定....
void AddSettingsMenu(QPushButton* button, WindowDirectory& windows);

// The keeper of a window's draft in ★MailData/Maildir.drafts. A draft that
// cannot be written is said in the window's status line, unless a send is
// using that line (isSending).
DraftKeeper* KeepDrafts(QWidget* window, const Program& program, DraftKeeper::ReadDraft readDraft,
                        DraftKeeper::IsEmpty isEmpty, QLabel* status, std::function<bool()> isSending);

// 下書き保存: written now, and said in the status line (a failure is said by
// the keeper's saveFailed).
void SaveDraftNow(DraftKeeper& keeper, QLabel* status);

// Completion in a window's recipient boxes (QLineEdit or QPlainTextEdit),
// from the address book and the people of both histories, read on the
// thread pool.
AddressCompleter* CompleteAddresses(QWidget* window, const Program& program, std::initializer_list<QWidget*> boxes);

}  // namespace lumopet
