#pragma once

#include <QObject>

#include <initializer_list>

class QSocketNotifier;

// Turns Unix signals into a Qt signal on the thread that made the watcher. The handler only
// writes the signal's number into a pipe, which is all a handler may safely do; the event loop
// reads it. One watcher per program.
class SignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit SignalWatcher(std::initializer_list<int> numbers, QObject *parent = nullptr);
    ~SignalWatcher() override;

signals:
    void received(int signal);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};
