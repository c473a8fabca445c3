#pragma once
// The parts of split messages (message/partial) that have come so far, kept
// in the data folder until the last one is here and the whole can be
// received as one message. Each message has a folder named from its id;
// in it each part is a file named by its number, and "total" holds the
// number of parts once a part has said it (only the last one must).
//
// A part is on disk, flushed, when KeepPart returns: from then on the
// server's copy may go.

#include "core/program_paths.h"
#include "core/result.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace lumopet {

// More parts than this is not a message anyone splits: such a part is not
// held (it is received as a message of its own).
inline constexpr int kMaxSplitParts = 1000;

// "\★MAilData\partial".
QString PartialMessagesPath(const ProgramPaths& paths);

// The folder name for a message id: the id is the sender's text, so the
// name is made of a hash of it and, for a human reader, its letters and
// digits; never a path, never "." or "..".
QString PartialFolderName(const QString& id);

struct HeldParts {
    int total = 0;     // 0: no part has said yet
    int held = 0;      // parts here (of 1..total when it is known)
    qint64 bytes = 0;  // their sizes together
    bool complete() const { return total > 0 && held == total; }
};

// Keeps part number (1 to kMaxSplitParts) of the message id, replacing a
// copy already held; total is 0 when the part does not say.
Status KeepPart(const QString& root, const QString& id, int number, int total, QByteArrayView source);

// What is held of the message id; nothing held is not a failure.
Result<HeldParts> PartsHeld(const QString& root, const QString& id);

// Parts 1 to total of the message id, in order.
Result<std::vector<QByteArray>> ReadHeldParts(const QString& root, const QString& id, int total);

// Removes what is held of the message id, once the whole is stored.
Status ForgetParts(const QString& root, const QString& id);

}  // namespace lumopet
