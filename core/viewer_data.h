#pragma once
// What the history viewer shows, kept apart from its window: the rows of its
// list and the message in its display boxes. A mail check fills them; the
// viewer shows them when it opens.

#include <QString>

#include <vector>

namespace lumopet {

struct ViewerRow {
    QString subject;
    QString from;
    QString date;
};

struct ViewerData {
    std::vector<ViewerRow> rows;
    QString subject, date, from, body;
    // The Body of the received-history record read or stored last: the
    // viewer reads it, a mail check stores it, the reply window pastes it.
    QString receivedRecordBody;
    // How many mail checks have emptied the list: the viewer takes the
    // rows again after each, even when they look the same as before.
    int listedChecks = 0;
};

}  // namespace lumopet
