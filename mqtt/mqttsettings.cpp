#include "mqtt/mqttsettings.h"

namespace {

bool isHostChar(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'-' || c == u'.' || c == u'_';
}

std::optional<MqttSettings> fail(QString *why, const QString &text)
{
    if (why)
        *why = QStringLiteral("MQTT: ") + text;
    return std::nullopt;
}

} // namespace

QString MqttSettings::hostPort() const
{
    const QString name = host.contains(u':') ? u'[' + host + u']' : host;
    return name + u':' + QString::number(port);
}

std::optional<MqttSettings> mqtt::parseSettings(const MqttConfigValues &values, QString *why)
{
    MqttSettings s;
    const QString url = values.url.trimmed();
    const qsizetype schemeEnd = url.indexOf(QStringLiteral("://"));
    const QString scheme = schemeEnd < 0 ? QString() : url.left(schemeEnd).toLower();
    if (scheme == u"mqtts") {
        s.tls = true;
        s.port = kDefaultTlsPort;
    } else if (scheme == u"mqtt") {
        s.port = kDefaultPort;
    } else {
        // The text before "://" is named only when it is short: it is not the place for secrets.
        return fail(why, schemeEnd < 0 || schemeEnd > 10
                             ? QStringLiteral("адрес брокера должен начинаться с mqtt:// или "
                                              "mqtts://")
                             : QStringLiteral("схема «%1» не поддерживается, нужна mqtt:// или "
                                              "mqtts://")
                                   .arg(url.left(schemeEnd)));
    }
    const QString rest = url.mid(schemeEnd + 3);
    const qsizetype slash = rest.indexOf(u'/');
    const QString authority = slash < 0 ? rest : rest.left(slash);
    QString prefix = slash < 0 ? QString() : rest.mid(slash + 1);

    if (authority.contains(u'@'))
        return fail(why, QStringLiteral("имя пользователя и пароль не пишутся в адресе брокера: "
                                        "задайте их ключами user и password"));
    QString portText;
    if (authority.startsWith(u'[')) {
        const qsizetype close = authority.indexOf(u']');
        if (close < 0)
            return fail(why, QStringLiteral("в адресе брокера нет закрывающей «]» у адреса IPv6"));
        s.host = authority.mid(1, close - 1);
        const QString after = authority.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(u':'))
            return fail(why, QStringLiteral("после адреса IPv6 ожидается «:порт»"));
        portText = after.mid(1);
        if (after.startsWith(u':') && portText.isEmpty())
            return fail(why, QStringLiteral("после «:» в адресе брокера нет номера порта"));
        for (QChar c : std::as_const(s.host)) {
            if (!(c.isDigit() || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F') ||
                  c == u':' || c == u'.'))
                return fail(why, QStringLiteral("«%1» — не адрес IPv6").arg(s.host));
        }
    } else {
        const qsizetype colon = authority.indexOf(u':');
        s.host = colon < 0 ? authority : authority.left(colon);
        if (colon >= 0) {
            portText = authority.mid(colon + 1);
            if (portText.isEmpty())
                return fail(why, QStringLiteral("после «:» в адресе брокера нет номера порта"));
        }
        for (QChar c : std::as_const(s.host)) {
            if (!isHostChar(c))
                return fail(why, QStringLiteral("недопустимый символ «%1» в имени брокера").arg(c));
        }
    }
    if (s.host.isEmpty())
        return fail(why,
                    QStringLiteral("в адресе брокера не указан узел (mqtt://УЗЕЛ:ПОРТ/ПРЕФИКС)"));
    if (!portText.isEmpty()) {
        bool digits = portText.size() <= 5;
        for (QChar c : std::as_const(portText))
            digits = digits && c >= u'0' && c <= u'9';
        const int port = digits ? portText.toInt() : 0;
        if (port < 1 || port > 65535)
            return fail(why, QStringLiteral("порт «%1» вне диапазона 1–65535").arg(portText));
        s.port = port;
    }

    while (prefix.endsWith(u'/'))
        prefix.chop(1);
    if (prefix.isEmpty())
        prefix = mqtt::kDefaultPrefix;
    if (prefix.contains(u'+') || prefix.contains(u'#') || prefix.contains(QChar(0)))
        return fail(why,
                    QStringLiteral("префикс тем «%1» не может содержать «+» и «#»").arg(prefix));
    if (prefix.startsWith(u'$') || prefix.startsWith(u'/'))
        return fail(
            why, QStringLiteral("префикс тем «%1» не может начинаться с «$» или «/»").arg(prefix));
    s.prefix = prefix;

    s.user = values.user.trimmed();
    s.password = values.password;
    s.caFile = values.caFile.trimmed();
    if (!s.password.isEmpty() && s.user.isEmpty())
        return fail(why, QStringLiteral("пароль задан без имени пользователя (ключ user)"));
    if (!s.caFile.isEmpty())
        s.tls = true;
    return s;
}
