#include "platform/CommandLine.h"

#include "platform/Version.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

QString versionText()
{
    return QStringLiteral("%1.%2.%3").arg(Version::Major).arg(Version::Minor).arg(Version::Revision);
}

CommandLine::CommandLine(const QString &program, const QString &description) : m_program(program)
{
    parser.setApplicationDescription(description);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
}

QStringList CommandLine::byteArguments(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLatin1(argv[i]);
    return arguments;
}

CommandLine::Outcome CommandLine::parse(const QStringList &arguments, std::FILE *out)
{
    if (!parser.parse(arguments)) {
        m_error = errorLine();
        return Outcome::Error;
    }
    // Help and version win over anything else on the line, as with every
    // other tool.
    if (parser.isSet(QStringLiteral("help"))) {
        // helpText() names the program by the path it was started as; show
        // its own name instead.
        QString text = parser.helpText();
        const QLatin1String usage("Usage: ");
        if (text.startsWith(usage)) {
            const qsizetype end = text.indexOf(QLatin1Char(' '), usage.size());
            if (end > 0)
                text.replace(usage.size(), end - usage.size(), m_program);
        }
        std::fputs(text.toLocal8Bit().constData(), out);
        return Outcome::Help;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::fprintf(out, "%s\n", versionLine().toLocal8Bit().constData());
        return Outcome::Version;
    }
    // No program here takes arguments other than options.
    if (const QStringList extra = parser.positionalArguments(); !extra.isEmpty()) {
        m_error = QStringLiteral("unexpected argument %1").arg(quoted(extra.constFirst()));
        return Outcome::Error;
    }
    m_error = repeated();
    if (m_error.isEmpty())
        m_error = readOptionTable(parser, m_table);
    for (qsizetype i = 0; m_error.isEmpty() && i < m_checks.size(); ++i)
        m_error = m_checks[i]();
    return m_error.isEmpty() ? Outcome::Run : Outcome::Error;
}

QString CommandLine::firstGiven(const QStringList &names) const
{
    for (const QString &name : names) {
        if (parser.isSet(name))
            return name;
    }
    return {};
}

bool CommandLine::runs(const QStringList &arguments, std::FILE *out, bool *printed, QString *error)
{
    const Outcome outcome = parse(arguments, out);
    *printed = outcome == Outcome::Help || outcome == Outcome::Version;
    *error = m_error;
    return outcome == Outcome::Run;
}

void addOptionTable(QCommandLineParser &parser, const QList<OptionSpec> &table)
{
    for (const OptionSpec &option : table)
        parser.addOption(QCommandLineOption(option.names, option.help, option.valueName));
}

QString readOptionTable(const QCommandLineParser &parser, const QList<OptionSpec> &table)
{
    for (const OptionSpec &option : table) {
        const QString &name = option.names.constFirst();
        if (!option.read || !parser.isSet(name))
            continue;
        if (QString error = option.read({name, option.valueName.isEmpty() ? QString() : parser.value(name)});
            !error.isEmpty())
            return error;
    }
    return {};
}

void CommandLine::addOptions(const QList<OptionSpec> &table)
{
    addOptionTable(parser, table);
    m_table += table;
}

// Which of two values was meant cannot be told, whichever comes last.
QString CommandLine::repeated() const
{
    QStringList seen;
    for (const QString &typed : parser.optionNames()) {
        // An option by its first name, whichever of its names was typed.
        QString name = typed;
        for (const OptionSpec &option : m_table) {
            if (option.names.contains(typed))
                name = option.names.constFirst();
        }
        if (seen.contains(name))
            return QStringLiteral("--%1 is given twice").arg(name);
        seen << name;
    }
    return {};
}

namespace OptionChecks {

QString goesWith(const QCommandLineParser &parser, const QStringList &options, const QString &needed)
{
    if (parser.isSet(needed))
        return {};
    for (const QString &name : options) {
        if (parser.isSet(name))
            return QStringLiteral("--%1 goes with --%2").arg(name, needed);
    }
    return {};
}

QString together(const QCommandLineParser &parser, const QString &a, const QString &b)
{
    return parser.isSet(a) != parser.isSet(b) ? QStringLiteral("--%1 and --%2 go together").arg(a, b) : QString();
}

} // namespace OptionChecks

QString CommandLine::shellText(const QStringList &arguments)
{
    static const QRegularExpression Plain(QStringLiteral(R"(^[A-Za-z0-9_./:=@%+,-]+$)"));
    QStringList words;
    for (const QString &argument : arguments) {
        const QString text = QString::fromLocal8Bit(bytes(argument));
        words << (Plain.match(text).hasMatch() ? text
                                               : QLatin1Char('\'') + QString(text).replace(QLatin1String("'"), QLatin1String("'\\''"))
                          + QLatin1Char('\''));
    }
    return words.join(QLatin1Char(' '));
}

// The parser's complaint in the same words for every program, naming the
// option as it is typed.
QString CommandLine::errorLine() const
{
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty())
        return QStringLiteral("unknown option %1%2").arg(unknown.first().size() == 1 ? "-" : "--", unknown.first());
    static const QRegularExpression missing(QStringLiteral("^Missing value after '(.*)'\\.$"));
    static const QRegularExpression unexpected(QStringLiteral("^Unexpected value after '(.*)'\\.$"));
    const QString error = parser.errorText();
    if (const QRegularExpressionMatch match = missing.match(error); match.hasMatch())
        return QStringLiteral("%1 needs a value").arg(match.captured(1));
    if (const QRegularExpressionMatch match = unexpected.match(error); match.hasMatch())
        return QStringLiteral("%1 takes no value").arg(match.captured(1));
    return error;
}

QString CommandLine::versionLine() const
{
    return m_program + QLatin1Char(' ') + versionText();
}

QByteArray OptionValue::bytes() const
{
    return CommandLine::bytes(text);
}

QString OptionValue::fileName() const
{
    return CommandLine::fileName(text);
}

namespace {

// The text a number is read from, or none when its form refuses it as it is.
std::optional<QString> numberText(const QString &text, NumberForm form)
{
    switch (form) {
    case NumberForm::Trimmed:
        return text.trimmed();
    case NumberForm::Exact:
        if (text.trimmed() != text)
            return std::nullopt;
        return text;
    case NumberForm::Digits:
        if (text.isEmpty() || std::any_of(text.begin(), text.end(), [](QChar c) { return c < u'0' || c > u'9'; }))
            return std::nullopt;
        return text;
    }
    return std::nullopt;
}

} // namespace

std::optional<qint64> OptionValue::whole(NumberForm form) const
{
    const std::optional<QString> number = numberText(text, form);
    bool ok = false;
    const qint64 value = number ? number->toLongLong(&ok) : 0;
    return ok ? std::optional(value) : std::nullopt;
}

std::optional<quint64> OptionValue::wholeUnsigned(NumberForm form) const
{
    const std::optional<QString> number = numberText(text, form);
    bool ok = false;
    const quint64 value = number ? number->toULongLong(&ok) : 0;
    return ok ? std::optional(value) : std::nullopt;
}

std::optional<double> OptionValue::real(NumberForm form) const
{
    const std::optional<QString> number = numberText(text, form);
    bool ok = false;
    const double value = number ? number->toDouble(&ok) : 0;
    return ok && std::isfinite(value) ? std::optional(value) : std::nullopt;
}

QString OptionValue::isNot(const QString &what) const
{
    return QStringLiteral("--%1: %2 is not %3").arg(name, CommandLine::quoted(text), what);
}

QString OptionValue::error(const QString &why) const
{
    return QStringLiteral("--%1: %2").arg(name, why);
}

namespace OptionRead {

OptionReader flag(bool *into)
{
    return [into](const OptionValue &) {
        *into = true;
        return QString();
    };
}

OptionReader text(QString *into)
{
    return [into](const OptionValue &value) {
        *into = value.text;
        return QString();
    };
}

OptionReader bytes(QByteArray *into)
{
    return [into](const OptionValue &value) {
        *into = value.bytes();
        return QString();
    };
}

OptionReader fileName(QString *into, const QString &notWhat)
{
    return [into, notWhat](const OptionValue &value) {
        *into = value.fileName();
        return !notWhat.isEmpty() && value.text.isEmpty() ? value.isNot(notWhat) : QString();
    };
}

OptionReader milliseconds(int *into, double least, double most, const QString &what)
{
    return [=](const OptionValue &value) {
        double seconds = 0;
        if (QString error = number(&seconds, least, most, what)(value); !error.isEmpty())
            return error;
        *into = int(std::lround(seconds * 1000));
        return QString();
    };
}

QString choiceList(const QStringList &names)
{
    if (names.size() < 2)
        return names.join(QString());
    return names.first(names.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" or ") + names.constLast();
}

} // namespace OptionRead
