#pragma once
// The ends of the program that do not come through a window: SIGTERM (a
// shutdown, `kill`), SIGHUP and SIGINT (the terminal it was started from)
// and the desktop session ending. Each reaches the program's one way out
// on the window thread, so that every window's draft is written before the
// program goes.

#include <QObject>

class QSocketNotifier;

namespace lumopet {

class EndSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; false (with a warning) when the pipe they write
    // to cannot be made, and the signals then end the program as before.
    bool install();

Q_SIGNALS:
    // A signal asked the program to end; emitted on the window thread.
    void endRequested();

private:
    void readSignal();
    QSocketNotifier* notifier_ = nullptr;
};

// Every draft is written when the desktop session asks the program to save
// its data, and once more as the event loop ends, whatever ended it.
void KeepDraftsAtSessionEnd();

}  // namespace lumopet
