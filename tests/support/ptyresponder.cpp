#include "support/ptyresponder.h"

#include <QFile>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

PtyResponder::PtyResponder(const QString &linkPath) : m_linkPath(linkPath)
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        throw std::runtime_error("no pseudo-terminal");
    const char *slaveName = ptsname(m_master);
    m_slaveKeeper = ::open(slaveName, O_RDWR | O_NOCTTY);
    if (m_slaveKeeper < 0)
        throw std::runtime_error("cannot open pseudo-terminal slave");
    termios raw{};
    tcgetattr(m_slaveKeeper, &raw);
    cfmakeraw(&raw);
    tcsetattr(m_slaveKeeper, TCSANOW, &raw);
    QFile::remove(m_linkPath);
    if (::symlink(slaveName, m_linkPath.toLocal8Bit().constData()) != 0)
        throw std::runtime_error("cannot publish pseudo-terminal");
    m_thread = std::thread([this] { run(); });
}

PtyResponder::~PtyResponder()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    QFile::remove(m_linkPath);
    ::close(m_slaveKeeper);
    ::close(m_master);
}

void PtyResponder::queueReply(const Reply &reply)
{
    std::lock_guard lock(m_mutex);
    m_replies.push_back(reply);
}

void PtyResponder::setAnswer(std::function<Reply(const QByteArray &)> answer)
{
    std::lock_guard lock(m_mutex);
    m_answer = std::move(answer);
}

QList<QByteArray> PtyResponder::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

QList<std::chrono::steady_clock::time_point> PtyResponder::requestTimes() const
{
    std::lock_guard lock(m_mutex);
    return m_times;
}

void PtyResponder::clearRequests()
{
    std::lock_guard lock(m_mutex);
    m_requests.clear();
    m_speeds.clear();
    m_times.clear();
}

QList<int> PtyResponder::requestSpeeds() const
{
    std::lock_guard lock(m_mutex);
    return m_speeds;
}

bool PtyResponder::waitForRequests(int count, int timeoutMs) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_requests.size() >= count; });
}

int PtyResponder::lineSpeed() const
{
    termios t{};
    if (tcgetattr(m_master, &t) != 0)
        return 0;
    switch (cfgetospeed(&t)) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    default:
        return 0;
    }
}

void PtyResponder::run()
{
    QByteArray pending;
    while (!m_stop) {
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0 || !(p.revents & POLLIN))
            continue;
        char buf[512];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            continue;
        const auto arrived = std::chrono::steady_clock::now();
        pending.append(buf, n);
        qsizetype end;
        while ((end = pending.indexOf("\r\n")) >= 0) {
            const QByteArray request = pending.left(end + 2);
            pending.remove(0, end + 2);
            Reply reply;
            {
                std::lock_guard lock(m_mutex);
                m_requests.append(request);
                m_speeds.append(lineSpeed());
                m_times.append(arrived);
                if (!m_replies.empty()) {
                    reply = m_replies.front();
                    m_replies.pop_front();
                } else if (m_answer) {
                    reply = m_answer(request);
                }
            }
            m_changed.notify_all();
            for (const Piece &piece : reply) {
                if (piece.delayMs > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(piece.delayMs));
                if (!piece.bytes.isEmpty()) [[maybe_unused]]
                    auto w = ::write(m_master, piece.bytes.constData(), size_t(piece.bytes.size()));
            }
        }
    }
}

QByteArray asciiFrame(const QByteArray &bytes, bool lowerCase)
{
    QByteArray text(":");
    int sum = 0;
    char two[3];
    const char *format = lowerCase ? "%02x" : "%02X";
    for (const char c : bytes) {
        const int b = static_cast<unsigned char>(c);
        std::snprintf(two, sizeof two, format, b);
        text.append(two, 2);
        sum += b;
    }
    std::snprintf(two, sizeof two, format, (-sum) & 0xFF);
    text.append(two, 2);
    text.append("\r\n");
    return text;
}

QByteArray asciiFrame(std::initializer_list<int> bytes, bool lowerCase)
{
    QByteArray raw;
    for (const int b : bytes)
        raw.append(char(b));
    return asciiFrame(raw, lowerCase);
}

QByteArray frameBytes(const QByteArray &frame)
{
    const qsizetype end = frame.indexOf("\r\n");
    if (!frame.startsWith(':') || end < 3)
        return {};
    // Drop ":" and the two LRC characters.
    return QByteArray::fromHex(frame.mid(1, end - 3));
}
