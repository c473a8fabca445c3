#pragma once
// At start: a password that iniIdPass.ini holds in plain text (a folder
// copied from the Windows version, or one saved before a keyring was there)
// while the desktop's keyring answers. The user is asked once whether to
// move it; yes writes it into the keyring and empties the file's copy.

class QWidget;

namespace lumopet {

class ProgramPaths;

// Asks only when there is a password to move; says so when moving fails.
void OfferToMovePasswordToKeyring(QWidget* parent, const ProgramPaths& paths);

}  // namespace lumopet
