#include "link/exchangestats.h"

#include <algorithm>
#include <cmath>

ExchangeKind classifyExchange(const ReplyMatch &match, bool portFailed)
{
    if (portFailed)
        return ExchangeKind::PortFailure;
    if (match.complete)
        return match.exception ? ExchangeKind::Exception : ExchangeKind::Good;
    // The frame nearest to being the reply says most about what went wrong.
    if (!match.refused.isEmpty()) {
        switch (match.refused.last()) {
        case FrameRefusal::LrcError:
            return ExchangeKind::LrcError;
        case FrameRefusal::Malformed:
            return ExchangeKind::Malformed;
        case FrameRefusal::OtherAddress:
        case FrameRefusal::OtherFunction:
        case FrameRefusal::WrongLengthOrEcho:
            return ExchangeKind::Foreign;
        }
    }
    return match.partial ? ExchangeKind::Malformed : ExchangeKind::NoReply;
}

void ReplyTimes::add(double ms)
{
    if (m_samples.size() < kSamples)
        m_samples.push_back(ms);
    else
        m_samples[m_next] = ms;
    m_next = (m_next + 1) % kSamples;
    ++m_count;
    m_last = ms;
    m_max = std::max(m_max, ms);
}

void ReplyTimes::merge(const ReplyTimes &other)
{
    if (other.m_count == 0)
        return;
    const std::size_t count = m_count + other.m_count;
    for (double ms : other.m_samples)
        add(ms);
    m_count = count;
    m_last = other.m_last;
    m_max = std::max(m_max, other.m_max);
}

double ReplyTimes::percentile(double p) const
{
    if (m_samples.empty())
        return -1;
    std::vector<double> sorted = m_samples;
    const auto rank = std::size_t(std::max(1.0, std::ceil(p / 100.0 * double(sorted.size()))));
    const auto nth = sorted.begin() + std::ptrdiff_t(std::min(rank, sorted.size()) - 1);
    std::nth_element(sorted.begin(), nth, sorted.end());
    return *nth;
}

std::int64_t ExchangeCounts::failures() const
{
    return requests - of(ExchangeKind::Good) - of(ExchangeKind::Exception);
}

double ExchangeCounts::failureShare() const
{
    return requests > 0 ? double(failures()) / double(requests) : 0.0;
}

void ExchangeCounts::add(const ExchangeCounts &other)
{
    requests += other.requests;
    for (std::size_t i = 0; i < outcomes.size(); ++i)
        outcomes[i] += other.outcomes[i];
    for (const auto &[code, n] : other.exceptionCodes)
        exceptionCodes[code] += n;
    replyTimes.merge(other.replyTimes);
}

void ExchangeStats::record(const ExchangeRecord &record)
{
    ExchangeCounts &c = m_devices[LineDevice{record.port, record.address}];
    ++c.requests;
    ++c.outcomes[std::size_t(record.outcome)];
    if (record.outcome == ExchangeKind::Exception)
        ++c.exceptionCodes[record.exceptionCode];
    if (record.replyMs >= 0)
        c.replyTimes.add(record.replyMs);
    ++m_revision;
}

void ExchangeStats::reset()
{
    m_devices.clear();
    ++m_revision;
}

ExchangeCounts ExchangeStats::counts(const LineDevice &key) const
{
    const auto it = m_devices.find(key);
    return it == m_devices.end() ? ExchangeCounts{} : it->second;
}

std::vector<StatsRow> statsRows(const ExchangeStats &stats, const std::vector<LineDevice> &devices)
{
    std::vector<StatsRow> rows;
    for (const LineDevice &d : devices)
        rows.push_back({d.port, d.address, stats.counts(d)});
    std::map<QString, ExchangeCounts> others;
    for (const auto &[key, counts] : stats.devices()) {
        if (std::find(devices.begin(), devices.end(), key) == devices.end())
            others[key.port].add(counts);
    }
    for (const auto &[port, counts] : others)
        rows.push_back({port, -1, counts});
    return rows;
}

namespace {

QString milliseconds(double ms)
{
    return ms < 0 ? QString() : QString::number(ms, 'f', 1);
}

} // namespace

QStringList statsFields(const ExchangeCounts &c)
{
    QStringList codes;
    for (const auto &[code, n] : c.exceptionCodes)
        codes << QStringLiteral("%1:%2").arg(code).arg(n);
    const ReplyTimes &t = c.replyTimes;
    return {QString::number(c.requests),
            QString::number(c.of(ExchangeKind::Good)),
            QString::number(c.of(ExchangeKind::NoReply)),
            QString::number(c.of(ExchangeKind::LrcError)),
            QString::number(c.of(ExchangeKind::Malformed)),
            QString::number(c.of(ExchangeKind::Foreign)),
            QString::number(c.of(ExchangeKind::PortFailure)),
            QString::number(c.of(ExchangeKind::Exception)),
            codes.join(QLatin1Char(' ')),
            QString::number(100.0 * c.failureShare(), 'f', 1),
            milliseconds(t.last()),
            milliseconds(t.percentile(50)),
            milliseconds(t.percentile(95)),
            milliseconds(t.max())};
}

QStringList statsFieldNames()
{
    return {QStringLiteral("requests"),        QStringLiteral("good"),
            QStringLiteral("no_reply"),        QStringLiteral("lrc_error"),
            QStringLiteral("malformed"),       QStringLiteral("foreign"),
            QStringLiteral("port_failure"),    QStringLiteral("exceptions"),
            QStringLiteral("exception_codes"), QStringLiteral("failed_percent"),
            QStringLiteral("last_ms"),         QStringLiteral("median_ms"),
            QStringLiteral("p95_ms"),          QStringLiteral("max_ms")};
}
