#include "ChannelReading.h"

#include "core/common/TextCodec.h"

namespace tulmo {

std::optional<ChannelReading> ChannelReading::parse(const QByteArray &frame) {
    if (frame.size() < kMinimumSize || !frame.startsWith("#$")) return std::nullopt;
    ChannelReading r;
    for (int n = 0; n < kChannels; ++n)
        r.raw[n] = static_cast<unsigned char>(frame[2 + n]);
    r.pgmStates = static_cast<unsigned char>(frame[14]);
    return r;
}

double channelValue(int raw, int minimo, int maximo) {
    return (minimo + raw * double(maximo - minimo) / 250.0) / 10.0;
}

QString formatDecimal(double value) {
    // Ranges are whole tenths and readings whole 250ths, so six places hold every value
    // exactly; what is beyond is the noise of binary fractions.
    QString s = QString::number(value, 'f', 6);
    while (s.endsWith(QLatin1Char('0')))
        s.chop(1);
    if (s.endsWith(QLatin1Char('.'))) s.chop(1);
    if (s == QLatin1String("-0")) s = QStringLiteral("0");
    return s.replace(QLatin1Char('.'), QLatin1Char(','));
}

namespace ModuleCommands {

QByteArray readChannels(const QString &password) {
    return "#$" + toWindows1252(password) + "D";
}

QByteArray switchPgm(const QString &password, int n, bool on, int type, int seconds) {
    QByteArray out = "#$" + toWindows1252(password) + (on ? "PGM1" : "PGM0");
    out.append(char(n - 1));
    out.append(char('0' + type));
    out.append(char((seconds >> 8) & 0xFF));
    out.append(char(seconds & 0xFF));
    return out;
}

} // namespace ModuleCommands

} // namespace tulmo
