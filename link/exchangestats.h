#pragma once

#include "link/frame.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <map>
#include <vector>

// What the link saw of every exchange, kept per device for the line diagnostics. Plain counts
// and a bounded store of reply times: recording costs no more than a few additions, so it may
// run on every exchange of a busy line.

enum class ExchangeKind : std::uint8_t {
    Good,
    Exception,   // the device answered, with an exception code
    NoReply,     // nothing that looked like a frame within the reply window
    LrcError,    // a frame whose sum was wrong: a line fault, most often
    Malformed,   // a frame cut off, not hexadecimal, or never ended by CR LF
    Foreign,     // a frame from another device or for another request
    PortFailure, // the port did not open, or failed during the exchange
};
constexpr int kExchangeKinds = 7;

// The outcome of an exchange from how its text was judged. portFailed: the port did not open
// or raised an error, whatever had been received.
ExchangeKind classifyExchange(const ReplyMatch &match, bool portFailed);

struct ExchangeRecord
{
    QString port; // as the user names it: "COM<n>", or the device path
    std::uint8_t address = 0;
    std::uint8_t function = 0;
    ExchangeKind outcome = ExchangeKind::NoReply;
    int exceptionCode = 0;
    double replyMs = -1; // request's last character to the reply's CR LF; -1 without a reply
};

// Reply times of one device: the latest and the largest ever, and the last kSamples for the
// median and the 95th percentile, so that memory stays bounded on a line polled for weeks.
class ReplyTimes
{
public:
    static constexpr std::size_t kSamples = 1024;

    void add(double ms);
    // Several devices taken together (a port's row); the other's kept samples are added.
    void merge(const ReplyTimes &other);
    std::size_t count() const { return m_count; }
    double last() const { return m_last; }
    double max() const { return m_max; }
    // Nearest rank over the kept samples; -1 without any.
    double percentile(double p) const;

private:
    std::vector<double> m_samples; // a ring once full
    std::size_t m_next = 0;
    std::size_t m_count = 0;
    double m_last = -1;
    double m_max = -1;
};

struct ExchangeCounts
{
    std::int64_t requests = 0;
    std::array<std::int64_t, kExchangeKinds> outcomes{};
    std::map<int, std::int64_t> exceptionCodes;
    ReplyTimes replyTimes;

    std::int64_t of(ExchangeKind o) const { return outcomes[std::size_t(o)]; }
    // Exchanges the line spoilt: an exception is the device's own answer, not a line failure.
    std::int64_t failures() const;
    // failures / requests, 0 when nothing was asked.
    double failureShare() const;
    void add(const ExchangeCounts &other);
};

struct LineDevice
{
    QString port;
    std::uint8_t address = 0;
    friend bool operator==(const LineDevice &, const LineDevice &) = default;
    // COM2 before COM10: shorter names first.
    friend bool operator<(const LineDevice &a, const LineDevice &b)
    {
        if (a.port.size() != b.port.size())
            return a.port.size() < b.port.size();
        if (a.port != b.port)
            return a.port < b.port;
        return a.address < b.address;
    }
};

class ExchangeStats
{
public:
    void record(const ExchangeRecord &record);
    void reset();

    const std::map<LineDevice, ExchangeCounts> &devices() const { return m_devices; }
    // The counts of one device; empty counts when it has had no exchange.
    ExchangeCounts counts(const LineDevice &device) const;
    // Moves on with every record and reset, so a view redraws only when something changed.
    std::uint64_t revision() const { return m_revision; }

private:
    std::map<LineDevice, ExchangeCounts> m_devices;
    std::uint64_t m_revision = 0;
};

// A row of a statistics table: one device, or (address -1) everything a port carried to
// addresses outside the devices asked for, such as a scan's probes.
struct StatsRow
{
    QString port;
    int address = -1;
    ExchangeCounts counts;
};
// A row per device of devices, in their order (empty counts for one not yet asked), then a row
// per port for the other addresses it carried.
std::vector<StatsRow> statsRows(const ExchangeStats &stats, const std::vector<LineDevice> &devices);

// The columns after a row's own name columns: requests, good, the failure kinds, exceptions,
// their codes ("2:5 4:1"), the failure share, reply times last, median, 95th percentile and
// maximum in ms. Full stops whatever the locale; an absent time is empty.
QStringList statsFields(const ExchangeCounts &counts);
// Their header, for scripts and files read by programs.
QStringList statsFieldNames();
