#pragma once
// A mail check or a send runs on a worker; what it shows goes to the
// windows on the window thread.

#include <QMetaObject>
#include <QObject>
#include <QThread>

namespace lumopet {

// Runs f on context's thread and waits for it: the worker goes on only after
// what it showed is there (and a message box has been answered).
template <class F>
void OnWindowThread(QObject& context, F f) {
    if (QThread::currentThread() == context.thread()) {
        f();
        return;
    }
    QMetaObject::invokeMethod(&context, f, Qt::BlockingQueuedConnection);
}

}  // namespace lumopet
