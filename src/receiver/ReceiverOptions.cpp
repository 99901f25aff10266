#include "receiver/ReceiverOptions.h"

namespace {

QByteArray quoted(const QByteArray &text)
{
    return '"' + text + '"';
}

bool parsePort(const QByteArray &text, quint16 *port)
{
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    const int value = text.toInt();
    if (value > 65535)
        return false;
    *port = quint16(value);
    return true;
}

bool parseMisbehaviour(const QByteArray &text, ReceiverOptions *options)
{
    using M = ReceiverOptions::Misbehaviour;
    if (text == "none" || text == "silent" || text == "close" || text == "split") {
        options->misbehaviour = text == "none" ? M::None : text == "silent" ? M::Silent : text == "close" ? M::Close : M::Split;
        return true;
    }
    const QByteArray prefix = "slow:";
    if (!text.startsWith(prefix))
        return false;
    const QByteArray digits = text.mid(prefix.size());
    if (digits.isEmpty() || digits.size() > 6)
        return false;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
    }
    const int delay = digits.toInt();
    if (delay > ReceiverOptions::LongestDelay)
        return false;
    options->misbehaviour = M::Slow;
    options->delay = delay;
    return true;
}

} // namespace

QByteArray receiverUsage()
{
    return "usage: ipnd-receiver [--bind ADDR] [--port N] [--reply TEXT] "
           "[--misbehave none|silent|close|split|slow:MS] [--save DIR] [--verdicts FILE] [--quiet]";
}

ParsedOptions parseReceiverOptions(const QList<QByteArray> &arguments)
{
    ParsedOptions parsed;
    ReceiverOptions &options = parsed.options;

    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QByteArray &argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            options.help = true;
            continue;
        }
        if (!argument.startsWith("--")) {
            parsed.error = "unexpected argument " + quoted(argument);
            return parsed;
        }

        const qsizetype equals = argument.indexOf('=');
        const QByteArray name = equals < 0 ? argument : argument.left(equals);
        std::optional<QByteArray> inlineValue;
        if (equals >= 0)
            inlineValue = argument.mid(equals + 1);

        if (name == "--quiet") {
            if (inlineValue) {
                parsed.error = "--quiet takes no value";
                return parsed;
            }
            options.quiet = true;
            continue;
        }
        if (name != "--bind" && name != "--port" && name != "--reply" && name != "--misbehave" && name != "--save" &&
            name != "--verdicts") {
            parsed.error = "unknown option " + name;
            return parsed;
        }

        QByteArray value;
        if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            parsed.error = name + ": no value given";
            return parsed;
        }

        if (name == "--bind") {
            if (!options.bind.setAddress(QString::fromLatin1(value))) {
                parsed.error = "--bind: " + quoted(value) + " is not an IP address";
                return parsed;
            }
        } else if (name == "--port") {
            if (!parsePort(value, &options.port)) {
                parsed.error = "--port: " + quoted(value) + " is not a port number (0 to 65535)";
                return parsed;
            }
        } else if (name == "--reply") {
            options.reply = value;
        } else if (name == "--misbehave") {
            if (!parseMisbehaviour(value, &options)) {
                parsed.error = "--misbehave: " + quoted(value) + " is not none, silent, close, split or slow:MS";
                return parsed;
            }
        } else if (name == "--verdicts") {
            if (value.isEmpty()) {
                parsed.error = "--verdicts: \"\" is not a file name";
                return parsed;
            }
            options.verdictsFile = QString::fromLocal8Bit(value);
        } else {
            if (value.isEmpty()) {
                parsed.error = "--save: \"\" is not a directory name";
                return parsed;
            }
            options.saveDirectory = QString::fromLocal8Bit(value);
        }
    }
    return parsed;
}
