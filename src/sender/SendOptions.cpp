#include "sender/SendOptions.h"

#include "DataFile/TCPIPNDserver.h"
#include "testpackets/TestRecords.h"

#include <QFileInfo>

#include <cmath>

namespace {

const QStringList ValueOptions = {QStringLiteral("--host"),          QStringLiteral("--port"),
                                  QStringLiteral("--record"),        QStringLiteral("--replay"),
                                  QStringLiteral("--format"),        QStringLiteral("--period"),
                                  QStringLiteral("--count"),         QStringLiteral("--connect-timeout"),
                                  QStringLiteral("--reply-timeout")};

std::optional<QByteArray> fixedRecord(const QString &name)
{
    if (name == QLatin1String("standard"))
        return TestRecords::Standard;
    if (name == QLatin1String("noadd"))
        return TestRecords::NoAdd;
    if (name == QLatin1String("long"))
        return TestRecords::Long;
    if (name == QLatin1String("min"))
        return TestRecords::Min;
    if (name == QLatin1String("max"))
        return TestRecords::Max;
    return std::nullopt;
}

std::optional<double> seconds(const QString &text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0 || value > 24 * 3600)
        return std::nullopt;
    return value;
}

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

QString sendUsage()
{
    return QStringLiteral(
        "usage: ipnd-send --host H --port P --record standard|noadd|long|min|max\n"
        "       ipnd-send --host H --port P --replay FILE [--format rawlog|multipkt] [--period SECONDS] [--count N]\n"
        "       common: [--connect-timeout SECONDS] [--reply-timeout SECONDS] [--quiet]\n");
}

ParsedSendArguments parseSendArguments(const QStringList &arguments)
{
    ParsedSendArguments parsed;
    const auto fail = [&](const QString &error) {
        parsed.error = error;
        return parsed;
    };

    QHash<QString, QString> values;
    bool quiet = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString name = arguments[i];
        QString value;
        bool hasValue = false;
        if (const qsizetype equals = name.indexOf(QLatin1Char('=')); name.startsWith(QLatin1String("--")) && equals > 0) {
            value = name.mid(equals + 1);
            name = name.left(equals);
            hasValue = true;
        }
        if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            parsed.help = true;
            return parsed;
        }
        if (name == QLatin1String("--quiet")) {
            quiet = true;
            continue;
        }
        if (!ValueOptions.contains(name)) {
            if (name.startsWith(QLatin1Char('-')))
                return fail(QStringLiteral("unknown option %1").arg(name));
            return fail(QStringLiteral("unexpected argument %1").arg(quoted(name)));
        }
        if (!hasValue) {
            if (i + 1 >= arguments.size())
                return fail(QStringLiteral("%1 needs a value").arg(name));
            value = arguments[++i];
        }
        if (values.contains(name))
            return fail(QStringLiteral("%1 is given twice").arg(name));
        values.insert(name, value);
    }

    SendOptions options;
    options.quiet = quiet;

    if (!values.contains(QStringLiteral("--host")))
        return fail(QStringLiteral("--host is required"));
    options.host = values.value(QStringLiteral("--host")).trimmed();
    if (options.host.isEmpty())
        return fail(QStringLiteral("--host: no address given"));

    if (!values.contains(QStringLiteral("--port")))
        return fail(QStringLiteral("--port is required"));
    options.port = values.value(QStringLiteral("--port"));
    bool portOk = false;
    const int port = options.port.trimmed().toInt(&portOk);
    if (!portOk || port < 1 || port > 65535)
        return fail(QStringLiteral("--port: %1 is not a port number (1 to 65535)").arg(quoted(options.port)));

    const bool record = values.contains(QStringLiteral("--record"));
    const bool replay = values.contains(QStringLiteral("--replay"));
    if (record == replay)
        return fail(QStringLiteral("give either --record or --replay"));

    if (record) {
        options.mode = SendOptions::Mode::Record;
        options.recordName = values.value(QStringLiteral("--record"));
        const std::optional<QByteArray> fixed = fixedRecord(options.recordName);
        if (!fixed)
            return fail(QStringLiteral("--record: %1 is not standard, noadd, long, min or max")
                            .arg(quoted(options.recordName)));
        options.record = *fixed;
        for (const char *replayOnly : {"--format", "--period", "--count"}) {
            if (values.contains(QLatin1String(replayOnly)))
                return fail(QStringLiteral("%1 goes with --replay, not --record").arg(QLatin1String(replayOnly)));
        }
    } else {
        options.mode = SendOptions::Mode::Replay;
        options.replayFile = values.value(QStringLiteral("--replay"));
        const QFileInfo file(options.replayFile);
        if (!file.exists() || file.isDir() || !file.isReadable())
            return fail(QStringLiteral("--replay: %1 is not a readable file").arg(quoted(options.replayFile)));

        const QString format = values.value(QStringLiteral("--format"), QStringLiteral("rawlog"));
        if (format == QLatin1String("rawlog"))
            options.format = QString::fromLatin1(RawLogMode);
        else if (format == QLatin1String("multipkt"))
            options.format = QString::fromLatin1(MultiPacketMode);
        else
            return fail(QStringLiteral("--format: %1 is not rawlog or multipkt").arg(quoted(format)));

        if (values.contains(QStringLiteral("--period"))) {
            const QString text = values.value(QStringLiteral("--period"));
            const std::optional<double> period = seconds(text);
            if (!period)
                return fail(QStringLiteral("--period: %1 is not a number of seconds (0 or more)").arg(quoted(text)));
            options.periodSeconds = *period;
        }
        if (values.contains(QStringLiteral("--count"))) {
            const QString text = values.value(QStringLiteral("--count"));
            bool ok = false;
            options.count = text.trimmed().toLongLong(&ok);
            if (!ok || options.count < 1)
                return fail(QStringLiteral("--count: %1 is not a whole number of 1 or more").arg(quoted(text)));
        }
    }

    for (const auto &[option, target] : {std::pair{"--connect-timeout", &options.connectTimeoutMs},
                                         std::pair{"--reply-timeout", &options.replyTimeoutMs}}) {
        if (!values.contains(QLatin1String(option)))
            continue;
        const QString text = values.value(QLatin1String(option));
        const std::optional<double> value = seconds(text);
        if (!value || *value <= 0)
            return fail(QStringLiteral("%1: %2 is not a number of seconds above 0").arg(QLatin1String(option), quoted(text)));
        *target = std::max(1, int(std::lround(*value * 1000)));
    }

    parsed.options = options;
    return parsed;
}
