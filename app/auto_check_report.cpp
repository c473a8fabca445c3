#include "app/auto_check_report.h"

namespace lumopet {

QString FailureKey(const QStringList& collected) {
    QStringList firstLines;
    for (const QString& text : collected) firstLines << text.section(u'\n', 0, 0).trimmed();
    return firstLines.join(u'\n');
}

bool AutoCheckReport::shouldSay(const QStringList& collected) {
    if (collected.isEmpty()) {
        said_.reset();
        return false;
    }
    const QString key = FailureKey(collected);
    if (said_ == key) return false;
    said_ = key;
    return true;
}

}  // namespace lumopet
