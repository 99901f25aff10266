#include "platform/CommandLine.h"

#include "platform/Version.h"

#include <QRegularExpression>

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
    return Outcome::Run;
}

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
