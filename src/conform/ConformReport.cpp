#include "conform/ConformReport.h"

#include "platform/CommandLine.h"
#include "platform/OutputFile.h"
#include "report/Outcome.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamWriter>

namespace {

constexpr qsizetype SentShown = 200;

QString text(const QByteArray &bytes)
{
    return QString::fromLatin1(printable(bytes));
}

QJsonObject exchangeJson(const ExchangeResult &exchange)
{
    return QJsonObject{{QStringLiteral("sent"), text(exchange.sent.left(SentShown))},
                       {QStringLiteral("sent_bytes"), qint64(exchange.sent.size())},
                       {QStringLiteral("reply"), text(exchange.reply)},
                       {QStringLiteral("class"), QString::fromLatin1(replyClassName(exchange.replyClass))},
                       {QStringLiteral("ms"), exchange.ms}};
}

QJsonObject caseJson(const CaseResult &c, bool compared)
{
    QJsonObject counts;
    for (int i = 0; i < ReplyClassCount; ++i)
        counts.insert(QString::fromLatin1(replyClassName(ReplyClass(i))), c.counts[i]);
    QJsonArray exchanges;
    for (const ExchangeResult &exchange : c.exchanges)
        exchanges.append(exchangeJson(exchange));
    QJsonObject object{{QStringLiteral("id"), QLatin1String(c.info.id)},
                       {QStringLiteral("section"), c.info.section},
                       {QStringLiteral("title"), QLatin1String(c.info.title)},
                       {QStringLiteral("level"), QString::fromLatin1(levelName(c.info.level))},
                       {QStringLiteral("outcome"), QString::fromLatin1(caseOutcomeName(c.outcome))},
                       {QStringLiteral("reason"), c.reason},
                       {QStringLiteral("counts"), counts},
                       {QStringLiteral("ms"), c.ms},
                       {QStringLiteral("exchanges"), exchanges}};
    if (compared) {
        object.insert(QStringLiteral("earlier"),
                      c.earlier ? QJsonValue(QString::fromLatin1(caseOutcomeName(*c.earlier))) : QJsonValue());
        object.insert(QStringLiteral("regression"), c.regression);
    }
    return object;
}

} // namespace

bool writeJsonReport(const SuiteResult &suite, const QString &fileName, QString *error)
{
    QJsonArray cases;
    for (const CaseResult &c : suite.cases)
        cases.append(caseJson(c, suite.compared));
    const QJsonObject summary{{QStringLiteral("cases"), int(suite.cases.size())},
                              {QStringLiteral("pass"), suite.count(CaseOutcome::Pass)},
                              {QStringLiteral("non_strict"), suite.count(CaseOutcome::NonStrict)},
                              {QStringLiteral("fail"), suite.count(CaseOutcome::Fail)},
                              {QStringLiteral("info"), suite.count(CaseOutcome::Info)},
                              {QStringLiteral("missing"), suite.count(CaseOutcome::Missing)},
                              {QStringLiteral("regressions"), suite.regressions()},
                              {QStringLiteral("passed"), suite.passed()},
                              {QStringLiteral("interrupted"), suite.interrupted}};
    const QJsonObject report{{QStringLiteral("suite"), QLatin1String(SuiteName)},
                             {QStringLiteral("program"), QStringLiteral("ipnd-conform")},
                             {QStringLiteral("version"), versionText()},
                             {QStringLiteral("started"), isoTime(suite.started)},
                             {QStringLiteral("command"), suite.command},
                             {QStringLiteral("target"), suite.target},
                             // A number where JSON readers keep it exact, else its digits.
                             {QStringLiteral("seed"), suite.seed <= (quint64(1) << 53) ? QJsonValue(double(suite.seed))
                                                                                      : QJsonValue(QString::number(suite.seed))},
                             {QStringLiteral("strict"), suite.strict},
                             {QStringLiteral("cases"), cases},
                             {QStringLiteral("summary"), summary}};
    return saveReport(fileName, QJsonDocument(report).toJson(QJsonDocument::Indented), error);
}

bool writeJUnitReport(const SuiteResult &suite, const QString &fileName, QString *error)
{
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("ipnd-conform suite %1").arg(QLatin1String(SuiteName)));
    for (int section = 1; section <= 4; ++section) {
        QList<const CaseResult *> cases;
        int failures = 0;
        int skipped = 0;
        double ms = 0;
        for (const CaseResult &c : suite.cases) {
            if (c.info.section != section)
                continue;
            cases << &c;
            failures += c.outcome == CaseOutcome::Fail || (suite.strict && c.outcome == CaseOutcome::NonStrict);
            skipped += c.outcome == CaseOutcome::Missing;
            ms += c.ms;
        }
        xml.writeStartElement(QStringLiteral("testsuite"));
        xml.writeAttribute(QStringLiteral("name"), QStringLiteral("%1 %2").arg(section).arg(sectionTitle(section)));
        xml.writeAttribute(QStringLiteral("tests"), QString::number(cases.size()));
        xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
        xml.writeAttribute(QStringLiteral("skipped"), QString::number(skipped));
        xml.writeAttribute(QStringLiteral("time"), QString::number(ms / 1000, 'f', 3));
        for (const CaseResult *c : cases) {
            xml.writeStartElement(QStringLiteral("testcase"));
            xml.writeAttribute(QStringLiteral("classname"), QStringLiteral("conform.%1").arg(section));
            xml.writeAttribute(QStringLiteral("name"),
                               QStringLiteral("%1 %2").arg(QLatin1String(c->info.id), QLatin1String(c->info.title)));
            xml.writeAttribute(QStringLiteral("time"), QString::number(c->ms / 1000, 'f', 3));
            const bool failed = c->outcome == CaseOutcome::Fail || (suite.strict && c->outcome == CaseOutcome::NonStrict);
            if (failed) {
                xml.writeStartElement(QStringLiteral("failure"));
                xml.writeAttribute(QStringLiteral("message"), c->reason);
                xml.writeAttribute(QStringLiteral("type"), QString::fromLatin1(caseOutcomeName(c->outcome)));
                xml.writeEndElement();
            } else if (c->outcome == CaseOutcome::Missing) {
                xml.writeStartElement(QStringLiteral("skipped"));
                xml.writeAttribute(QStringLiteral("message"), c->reason);
                xml.writeEndElement();
            }
            if (c->outcome == CaseOutcome::Info || c->outcome == CaseOutcome::NonStrict)
                xml.writeTextElement(QStringLiteral("system-out"),
                                     QStringLiteral("%1: %2").arg(QLatin1String(caseOutcomeName(c->outcome)), c->reason));
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndDocument();
    return saveReport(fileName, bytes, error);
}

bool readEarlierReport(const QString &fileName, QHash<QString, CaseOutcome> *outcomes, QString *error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("--compare: cannot read \"%1\": %2").arg(fileName, file.errorString());
        return false;
    }
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject()) {
        *error = QStringLiteral("--compare: \"%1\" is not a JSON report: %2").arg(fileName, parseError.errorString());
        return false;
    }
    const QJsonObject report = document.object();
    if (report.value(QStringLiteral("suite")).toString() != QLatin1String(SuiteName)) {
        *error = QStringLiteral("--compare: \"%1\" is a report of suite \"%2\", not of suite \"%3\"")
                     .arg(fileName, report.value(QStringLiteral("suite")).toString(), QLatin1String(SuiteName));
        return false;
    }
    for (const QJsonValue &value : report.value(QStringLiteral("cases")).toArray()) {
        const QJsonObject c = value.toObject();
        if (const auto outcome = caseOutcomeFromName(c.value(QStringLiteral("outcome")).toString().toLatin1()))
            outcomes->insert(c.value(QStringLiteral("id")).toString(), *outcome);
    }
    return true;
}

bool saveReport(const QString &fileName, const QByteArray &bytes, QString *error)
{
    QString reason;
    if (saveWhole(fileName, bytes, &reason))
        return true;
    *error = QStringLiteral("cannot write \"%1\": %2").arg(fileName, reason);
    return false;
}

void compareWithEarlier(CaseResult *c, const QHash<QString, CaseOutcome> &earlier)
{
    const auto found = earlier.constFind(QLatin1String(c->info.id));
    if (found == earlier.constEnd())
        return;
    c->earlier = *found;
    c->regression = c->outcome == CaseOutcome::Fail && *found != CaseOutcome::Fail && *found != CaseOutcome::Missing;
}
