#pragma once

#include <QString>

#include <cstdio>

// One table for all benchmarks: what was measured, the floor or baseline it is set against,
// their ratio and the goal for that ratio. bench/run.sh prints the heading once.
namespace bench {

inline void row(const QString &name, const QString &measured, const QString &floor, double ratio,
                double goal)
{
    std::printf("%-46s %12s %12s %7.3f %7.3f %s\n", qUtf8Printable(name), qUtf8Printable(measured),
                qUtf8Printable(floor), ratio, goal, ratio <= goal ? "ok" : "MISSED");
    std::fflush(stdout);
}

// A line under the table's rows, for the parts a ratio is made of.
inline void note(const QString &text)
{
    std::printf("%s\n", qUtf8Printable(text));
    std::fflush(stdout);
}

inline QString ms(double value)
{
    return QString::number(value, 'f', 1) + QStringLiteral(" ms");
}

} // namespace bench
