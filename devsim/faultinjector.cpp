#include "devsim/faultinjector.h"

#include <algorithm>

namespace devsim {

FaultInjector::FaultInjector(const FaultSettings &settings)
    : m_settings(settings), m_random(settings.seed)
{
}

bool FaultInjector::strikes(double probability)
{
    const double draw = std::uniform_real_distribution<double>(0.0, 1.0)(m_random);
    return draw < probability;
}

int FaultInjector::exceptionFor()
{
    return strikes(m_settings.exception) ? m_settings.exceptionCode : 0;
}

QList<ReplyPiece> FaultInjector::shape(const QByteArray &frame)
{
    const bool drop = strikes(m_settings.drop);
    const bool late = strikes(m_settings.late);
    const bool corrupt = strikes(m_settings.corruptLrc);
    const bool noise = strikes(m_settings.noise);
    const bool noCrLf = strikes(m_settings.noCrLf);
    const bool split = strikes(m_settings.split);
    if (drop)
        return {};

    QByteArray text = frame;
    if (corrupt && text.size() >= 5) {
        // Change the LRC pair so that it is off by one.
        const int at = int(text.size()) - 4;
        const int lrc = QByteArray::fromHex(text.mid(at, 2)).at(0) & 0xFF;
        text.replace(at, 2,
                     QByteArray::number((lrc + 1) & 0xFF, 16).rightJustified(2, '0').toUpper());
    }
    if (noCrLf && text.endsWith("\r\n"))
        text.chop(2);
    if (noise) {
        // Line noise never contains the start character, or it would begin a frame of its own.
        static const char kNoise[] = "\x00\xFF\x7F?~*#\x15\x80\xC0";
        QByteArray junk;
        for (int i = 0; i < m_settings.noiseChars; ++i)
            junk.append(kNoise[std::uniform_int_distribution<int>(0, 9)(m_random)]);
        text.prepend(junk);
    }

    QList<ReplyPiece> pieces;
    const int delay = late ? m_settings.lateMs : 0;
    if (split && text.size() >= 2) {
        const int n = std::min<int>(m_settings.splitPieces, int(text.size()));
        qsizetype from = 0;
        for (int i = 0; i < n; ++i) {
            const qsizetype to = text.size() * (i + 1) / n;
            pieces.append({text.mid(from, to - from), i == 0 ? delay : m_settings.splitPauseMs});
            from = to;
        }
    } else {
        pieces.append({text, delay});
    }
    return pieces;
}

} // namespace devsim
