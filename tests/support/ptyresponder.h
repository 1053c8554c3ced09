#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <thread>

// A scripted MODBUS ASCII peer on a real pseudo-terminal. The slave side is published as a
// symbolic link (so a port opens it by path); a thread on the master side collects each request
// up to CR LF, records it and answers with the next prepared reply: whole, in pieces with pauses,
// or not at all.
class PtyResponder
{
public:
    struct Piece
    {
        QByteArray bytes;
        int delayMs = 0; // pause before this piece
    };
    using Reply = QList<Piece>; // empty: stay silent

    explicit PtyResponder(const QString &linkPath);
    ~PtyResponder();
    PtyResponder(const PtyResponder &) = delete;
    PtyResponder &operator=(const PtyResponder &) = delete;

    QString linkPath() const { return m_linkPath; }

    // Replies are used one per request in order; once they run out, answer() decides, and
    // without it the peer is silent.
    void queueReply(const Reply &reply);
    void queueReply(const QByteArray &whole) { queueReply(Reply{Piece{whole, 0}}); }
    void setAnswer(std::function<Reply(const QByteArray &request)> answer);

    QList<QByteArray> requests() const;
    // When each request's CR LF arrived, on the monotonic clock.
    QList<std::chrono::steady_clock::time_point> requestTimes() const;
    void clearRequests();
    bool waitForRequests(int count, int timeoutMs) const;
    // The line speed that the client has set on its end now, and had set at each request.
    int lineSpeed() const;
    QList<int> requestSpeeds() const;

private:
    void run();

    QString m_linkPath;
    int m_master = -1;
    int m_slaveKeeper = -1; // keeps the line up between the client's opens
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::deque<Reply> m_replies;
    std::function<Reply(const QByteArray &)> m_answer;
    QList<QByteArray> m_requests;
    QList<int> m_speeds;
    QList<std::chrono::steady_clock::time_point> m_times;
};

// A MODBUS ASCII frame built independently of the link's own codec, for prepared replies.
QByteArray asciiFrame(std::initializer_list<int> bytes, bool lowerCase = false);
QByteArray asciiFrame(const QByteArray &bytes, bool lowerCase = false);

// The bytes of a received frame (between ":" and the LRC), decoded without the link's codec.
QByteArray frameBytes(const QByteArray &frame);
