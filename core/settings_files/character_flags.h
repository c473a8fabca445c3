#pragma once
// "★MailData\CharaData.ini": which characters appear for mail that names
// none. Section "EXEINI", keys NAME1 to NAME5, "1" or "0" each; the keys
// pair with the moods as the mood table says.

#include "core/moods.h"
#include "core/result.h"

namespace lumopet {

// A key is on when its value reads as the number 1 ("1", "01", "1.0");
// anything else, and a missing file, section or key, is off.
MoodFlags ReadCharacterFlags(const QString& path);

// Writes "0" to NAME1..NAME5 in that order, then "1" to the key of each
// enabled mood, taking the boxes Check1 to Check5 in order.
Status WriteCharacterFlags(const QString& path, const MoodFlags& enabled);

}  // namespace lumopet
