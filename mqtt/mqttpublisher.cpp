#include "mqtt/mqttpublisher.h"
#include "mqtt/rowmessage.h"

#include <mosquitto.h>

#include <cerrno>

namespace {

// mosquitto_lib_init and _cleanup are process-wide; several publishers may live at once.
std::mutex libraryMutex;
int libraryUsers = 0;

void useLibrary()
{
    std::lock_guard lock(libraryMutex);
    if (libraryUsers++ == 0)
        mosquitto_lib_init();
}

void releaseLibrary()
{
    std::lock_guard lock(libraryMutex);
    if (--libraryUsers == 0)
        mosquitto_lib_cleanup();
}

QString refusalText(int code)
{
    switch (code) {
    case 1:
        return QStringLiteral("брокер не поддерживает версию протокола MQTT 3.1.1");
    case 2:
        return QStringLiteral("брокер отверг идентификатор клиента");
    case 3:
        return QStringLiteral("служба брокера недоступна");
    case 4:
        return QStringLiteral("неверное имя пользователя или пароль");
    case 5:
        return QStringLiteral("нет права на подключение (неверное имя пользователя или пароль, "
                              "или вход без них запрещён)");
    default:
        return QStringLiteral("брокер отказал в подключении: ") +
               QString::fromUtf8(mosquitto_connack_string(code));
    }
}

QString failureText(int rc, int err)
{
    switch (rc) {
    case MOSQ_ERR_ERRNO:
        return qt_error_string(err);
    case MOSQ_ERR_CONN_LOST:
        return QStringLiteral("соединение разорвано");
    case MOSQ_ERR_KEEPALIVE:
        return QStringLiteral("брокер перестал отвечать");
    case MOSQ_ERR_EAI:
        return QStringLiteral("имя узла не найдено");
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_TLS_HANDSHAKE:
        return QStringLiteral("ошибка TLS (сертификат брокера не прошёл проверку по cafile?)");
    case MOSQ_ERR_PROTOCOL:
        return QStringLiteral("ошибка протокола MQTT");
    default:
        return QString::fromUtf8(mosquitto_strerror(rc));
    }
}

} // namespace

MqttPublisher::MqttPublisher(const MqttSettings &settings, LogFn logFn)
    : m_settings(settings), m_logFn(std::move(logFn)),
      m_statusTopic((settings.prefix + QStringLiteral("/status")).toUtf8()),
      m_droppedTopic((settings.prefix + QStringLiteral("/status/dropped")).toUtf8())
{
    useLibrary();
    // A clean session: what the broker kept of an earlier run is of no use to a publisher.
    m_mosq = mosquitto_new(nullptr, true, this);
    if (!m_mosq) {
        log(QStringLiteral("MQTT: не удалось создать клиента для брокера %1: %2")
                .arg(m_settings.hostPort(), qt_error_string(errno)));
        return;
    }
    // Publishing from the logger's threads while a thread of our own runs the network loop.
    mosquitto_threaded_set(m_mosq, true);
    mosquitto_connect_callback_set(m_mosq, &MqttPublisher::connectCallback);
    mosquitto_disconnect_callback_set(m_mosq, &MqttPublisher::disconnectCallback);
    mosquitto_publish_callback_set(m_mosq, &MqttPublisher::publishCallback);
    static const char offline[] = "offline";
    int rc = mosquitto_will_set(m_mosq, m_statusTopic.constData(), int(sizeof offline - 1), offline,
                                1, true);
    if (rc == MOSQ_ERR_SUCCESS && !m_settings.user.isEmpty()) {
        const QByteArray user = m_settings.user.toUtf8();
        const QByteArray password = m_settings.password.toUtf8();
        rc = mosquitto_username_pw_set(m_mosq, user.constData(),
                                       m_settings.password.isEmpty() ? nullptr
                                                                     : password.constData());
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        log(QStringLiteral("MQTT: не удалось настроить клиента для брокера %1: %2")
                .arg(m_settings.hostPort(), failureText(rc, errno)));
        return;
    }
    if (m_settings.tls) {
        const QByteArray caFile = m_settings.caFile.toLocal8Bit();
        // Without a CA file of its own the broker's certificate is checked against the system's.
        rc = mosquitto_tls_set(m_mosq, caFile.isEmpty() ? nullptr : caFile.constData(),
                               caFile.isEmpty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr,
                               nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            log(QStringLiteral("MQTT: TLS для брокера %1 не настроен: файл сертификатов «%2» "
                               "не читается (%3); строки не публикуются")
                    .arg(m_settings.hostPort(),
                         m_settings.caFile.isEmpty() ? QStringLiteral("/etc/ssl/certs")
                                                     : m_settings.caFile,
                         rc == MOSQ_ERR_INVAL ? QStringLiteral("его нет или нет права на чтение")
                                              : failureText(rc, errno)));
            return;
        }
    }
    m_usable = true;
    m_thread = std::thread(&MqttPublisher::run, this);
}

MqttPublisher::~MqttPublisher()
{
    stop();
    if (m_mosq)
        mosquitto_destroy(m_mosq);
    releaseLibrary();
}

void MqttPublisher::rowWritten(const PolledRow &row)
{
    if (m_stopRequested)
        return;
    if (!m_connected) {
        dropRow();
        return;
    }
    if (m_unacknowledged >= kMaxUnacknowledged) {
        dropRow();
        if (!m_overflowLogged.exchange(true))
            log(QStringLiteral("MQTT: брокер %1 не успевает подтверждать сообщения (ждут "
                               "подтверждения: %2); новые строки отбрасываются, пока очередь не "
                               "освободится")
                    .arg(m_settings.hostPort())
                    .arg(kMaxUnacknowledged));
        return;
    }
    if (!publish(mqtt::rowTopic(m_settings.prefix, row), mqtt::rowPayload(row)))
        dropRow();
}

void MqttPublisher::stop(std::chrono::milliseconds wait)
{
    if (m_stopped.exchange(true))
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stopRequested = true;
    }
    m_wake.notify_all();
    if (!m_thread.joinable())
        return;
    if (m_connected) {
        publish(m_statusTopic, "offline");
        flush(wait);
    }
    // Sends DISCONNECT when connected (the broker then keeps the will to itself) and wakes the
    // network loop in any case; the thread ends once the connection is closed.
    mosquitto_disconnect(m_mosq);
    m_thread.join();
}

bool MqttPublisher::flush(std::chrono::milliseconds wait)
{
    std::unique_lock lock(m_mutex);
    return m_wake.wait_for(lock, wait, [this] { return m_unacknowledged == 0; });
}

void MqttPublisher::run()
{
    const QByteArray host = m_settings.host.toUtf8();
    auto retry = kFirstRetry;
    QString lastFailure;
    while (!m_stopRequested) {
        m_refusal.clear();
        m_connectedThisTime = false;
        // Connects without waiting for the TCP handshake; the loop below completes it.
        int rc =
            mosquitto_connect_async(m_mosq, host.constData(), m_settings.port, kKeepAliveSeconds);
        int err = errno;
        if (rc == MOSQ_ERR_SUCCESS) {
            // The loop wakes on socket traffic and on every publish; the timeout only serves
            // the keep-alive.
            while ((rc = mosquitto_loop(m_mosq, 5000, 1)) == MOSQ_ERR_SUCCESS) {
                if (m_stopRequested && !m_connected)
                    break;
            }
            err = errno;
        }
        const bool wasConnected = m_connectedThisTime;
        m_connected = false;
        if (m_stopRequested)
            break;
        if (wasConnected)
            retry = kFirstRetry;
        const QString reason = !m_refusal.isEmpty() ? m_refusal : failureText(rc, err);
        // A broker that stays away is reported once, not at every attempt.
        if (wasConnected || reason != lastFailure) {
            log((wasConnected ? QStringLiteral("MQTT: связь с брокером %1 потеряна: %2; ")
                              : QStringLiteral("MQTT: не удалось подключиться к брокеру %1: %2; "))
                    .arg(m_settings.hostPort(), reason) +
                QStringLiteral("повторные попытки через %1 с, затем реже, до раза в %2 с")
                    .arg(retry.count())
                    .arg(kLongestRetry.count()));
            lastFailure = reason;
        }
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, retry, [this] { return m_stopRequested.load(); });
        retry = std::min(retry * 2, kLongestRetry);
    }
}

bool MqttPublisher::publish(const QByteArray &topic, const QByteArray &payload)
{
    ++m_unacknowledged;
    const int rc = mosquitto_publish(m_mosq, nullptr, topic.constData(), int(payload.size()),
                                     payload.constData(), 1, true);
    if (rc == MOSQ_ERR_SUCCESS)
        return true;
    onPublish();
    return false;
}

void MqttPublisher::dropRow()
{
    ++m_dropped;
}

void MqttPublisher::log(const QString &line)
{
    if (!m_logFn)
        return;
    std::lock_guard lock(m_logMutex);
    m_logFn(line);
}

void MqttPublisher::onConnect(int code)
{
    if (code != 0) {
        m_refusal = refusalText(code);
        return;
    }
    // A stop that came while the connection was being made: leave the status to the will.
    if (m_stopRequested)
        return;
    m_overflowLogged = false;
    m_connectedThisTime = true;
    m_connected = true;
    log(QStringLiteral("MQTT: связь с брокером %1 установлена").arg(m_settings.hostPort()));
    const qint64 dropped = m_dropped;
    if (dropped > m_droppedReported)
        log(QStringLiteral("MQTT: не отправлено строк, пока не было связи с брокером %1: %2 "
                           "(всего с запуска: %3)")
                .arg(m_settings.hostPort())
                .arg(dropped - m_droppedReported)
                .arg(dropped));
    m_droppedReported = dropped;
    publish(m_statusTopic, "online");
    publish(m_droppedTopic, QByteArray::number(dropped));
}

void MqttPublisher::onDisconnect(int)
{
    m_connected = false;
}

void MqttPublisher::onPublish()
{
    if (--m_unacknowledged != 0)
        return;
    {
        std::lock_guard lock(m_mutex);
        m_wake.notify_all();
    }
    if (m_overflowLogged.exchange(false) && m_connected) {
        const qint64 dropped = m_dropped;
        log(QStringLiteral("MQTT: брокер %1 подтвердил всё отправленное, строки снова "
                           "отправляются; не отправлено с запуска: %2")
                .arg(m_settings.hostPort())
                .arg(dropped));
        publish(m_droppedTopic, QByteArray::number(dropped));
    }
}

void MqttPublisher::connectCallback(mosquitto *, void *self, int code)
{
    static_cast<MqttPublisher *>(self)->onConnect(code);
}

void MqttPublisher::disconnectCallback(mosquitto *, void *self, int code)
{
    static_cast<MqttPublisher *>(self)->onDisconnect(code);
}

void MqttPublisher::publishCallback(mosquitto *, void *self, int)
{
    static_cast<MqttPublisher *>(self)->onPublish();
}
