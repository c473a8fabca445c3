#pragma once
// When the user last typed in one of the program's windows. A timed check holds every window while it runs, as any
// check does; started under the hands of someone typing a letter, it would
// take the keys typed meanwhile (and, with a slow server, the window) away.
// So a timed check waits for a pause in the typing instead.

#include <QElapsedTimer>
#include <QObject>

namespace lumopet {

class RecentInput : public QObject {
    Q_OBJECT
public:
    // How long the user's hands must have rested before a timed check
    // starts.
    static constexpr qint64 kPauseMilliseconds = 20'000;

    // Watches the whole application's input while it lives.
    explicit RecentInput(QObject* parent = nullptr);

    // True when a key was pressed (or text came from an input method) less
    // than the given time ago.
    bool within(qint64 milliseconds) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QElapsedTimer sinceInput_;  // invalid until the first key
};

}  // namespace lumopet
