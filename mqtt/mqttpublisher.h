#pragma once

#include "logger/rowsink.h"
#include "mqtt/mqttsettings.h"

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

struct mosquitto;

// Publishes every written row to an MQTT broker: PREFIX/<port>/<address>/values, QoS 1, retained.
//
// The connection is made and kept by a thread of its own: the constructor returns at once
// whether or not the broker is there (a host name is resolved on that thread too), and
// rowWritten() only hands the message to the library's queue. A lost or refused connection is
// retried after 1 s, doubling up to 60 s. Rows that cannot be sent (no connection, or more than
// kMaxUnacknowledged messages still waiting for the broker's acknowledgement) are dropped and
// counted, so memory stays bounded however long the broker is away.
//
// Status topics, all retained: PREFIX/status is "online" on every connect, "offline" on a clean
// stop, and "offline" as the will the broker sends when the connection breaks without one;
// PREFIX/status/dropped is the number of rows dropped since the start, published on every
// connect (so a reconnect reports what the outage cost; the log says it too) and when a full
// queue has drained again.
//
// Log lines (Russian, naming host:port and the reason) go to logFn, which may be called from
// any thread, one call at a time. The password is never written to them.
class MqttPublisher : public RowSink
{
public:
    using LogFn = std::function<void(const QString &line)>;

    static constexpr int kMaxUnacknowledged = 1000;
    static constexpr int kKeepAliveSeconds = 15;
    static constexpr std::chrono::seconds kFirstRetry{1};
    static constexpr std::chrono::seconds kLongestRetry{60};

    MqttPublisher(const MqttSettings &settings, LogFn logFn);
    ~MqttPublisher() override; // stop()
    MqttPublisher(const MqttPublisher &) = delete;
    MqttPublisher &operator=(const MqttPublisher &) = delete;

    // Any thread, while the publisher lives; after stop() rows are ignored.
    void rowWritten(const PolledRow &row) override;

    // Publishes "offline", waits up to the given time for the broker to acknowledge what is
    // under way, disconnects and ends the connection thread. Rows written later are ignored.
    void stop(std::chrono::milliseconds wait = std::chrono::seconds(2));

    // Waits until every message handed over so far has been acknowledged (true) or the time is
    // up (false); returns at once when nothing is under way.
    bool flush(std::chrono::milliseconds wait);

    // False when the client could not be set up (an unreadable CA file, say; the log says why):
    // nothing will be published, and a service may prefer to refuse to start.
    bool canPublish() const { return m_usable; }
    bool isConnected() const { return m_connected; }
    qint64 droppedRows() const { return m_dropped; }

private:
    void run();
    bool publish(const QByteArray &topic, const QByteArray &payload);
    void dropRow();
    void log(const QString &line);
    void onConnect(int code);
    void onDisconnect(int code);
    void onPublish();

    static void connectCallback(mosquitto *, void *self, int code);
    static void disconnectCallback(mosquitto *, void *self, int code);
    static void publishCallback(mosquitto *, void *self, int mid);

    const MqttSettings m_settings;
    const LogFn m_logFn;
    const QByteArray m_statusTopic;
    const QByteArray m_droppedTopic;
    mosquitto *m_mosq = nullptr;
    bool m_usable = false; // the client could be set up (a readable CA file, say)
    std::thread m_thread;

    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_stopped{false};
    std::atomic<int> m_unacknowledged{0};
    std::atomic<qint64> m_dropped{0};
    std::atomic<bool> m_overflowLogged{false};
    qint64 m_droppedReported = 0;     // connection thread only
    QString m_refusal;                // connection thread only: the broker's answer to CONNECT
    bool m_connectedThisTime = false; // connection thread only: this attempt got through

    std::mutex m_mutex; // with m_wake: the retry wait, flush() and stop()
    std::condition_variable m_wake;
    std::mutex m_logMutex;
};
