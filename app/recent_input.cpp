#include "app/recent_input.h"

#include <QCoreApplication>
#include <QEvent>

namespace lumopet {

RecentInput::RecentInput(QObject* parent) : QObject(parent) {
    if (QCoreApplication::instance()) QCoreApplication::instance()->installEventFilter(this);
}

bool RecentInput::within(qint64 milliseconds) const {
    return sinceInput_.isValid() && sinceInput_.elapsed() < milliseconds;
}

bool RecentInput::eventFilter(QObject* watched, QEvent* event) {
    // Only typing: a click lost to a held window is made again, a letter
    // lost in a sentence is not noticed. The filter sees every event of the
    // program, and must cost nothing for the paint and timer events that
    // are most of them.
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::InputMethod:
        sinceInput_.start();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace lumopet
