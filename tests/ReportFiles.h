#pragma once

// The reports of a run read back: the JSON Lines as objects, the JUnit XML
// and the HTML page (written well-formed) with QXmlStreamReader.

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QStringList>
#include <QXmlStreamReader>

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One object a line; a line that is no JSON object reads as an empty one.
inline QList<QJsonObject> jsonLines(const QByteArray &text)
{
    QList<QJsonObject> objects;
    for (const QByteArray &line : text.split('\n')) {
        if (!line.isEmpty())
            objects.append(QJsonDocument::fromJson(line).object());
    }
    return objects;
}

inline QList<QJsonObject> readJsonLines(const QString &path)
{
    return jsonLines(readFile(path));
}

struct JUnit
{
    QString error;
    QXmlStreamAttributes suite;                 // the last testsuite's
    QMap<QString, QXmlStreamAttributes> suites; // every testsuite's, by name
    QStringList names;                  // the test cases in order
    QMap<QString, QString> failures;    // test case name: failure message
    QMap<QString, QString> skipped;     // test case name: the reason it was skipped
};

inline JUnit readJUnit(const QString &path)
{
    QFile file(path);
    JUnit junit;
    if (!file.open(QIODevice::ReadOnly)) {
        junit.error = QStringLiteral("cannot open");
        return junit;
    }
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == u"testsuite")
            junit.suites[xml.attributes().value(QLatin1String("name")).toString()] = junit.suite = xml.attributes();
        else if (xml.name() == u"testcase")
            junit.names << xml.attributes().value(QLatin1String("name")).toString();
        else if (xml.name() == u"failure")
            junit.failures[junit.names.last()] = xml.attributes().value(QLatin1String("message")).toString();
        else if (xml.name() == u"skipped")
            junit.skipped[junit.names.last()] = xml.attributes().value(QLatin1String("message")).toString();
    }
    if (xml.hasError())
        junit.error = xml.errorString();
    return junit;
}

// The page is written well-formed, so its structure can be read as XML.
struct Html
{
    QString error;
    QString verdictClass;
    QMap<QString, QString> summary; // row heading: value
    int svgs = 0;
    int shapes = 0;                 // rect and path elements inside the SVGs
    QStringList failedIds;
    QStringList failedReplies;      // the failed table's "Reply or reason" column
    QStringList externalReferences; // scripts, links, src and href attributes
    QStringList paragraphs;
};

inline Html readHtml(const QByteArray &page)
{
    Html html;
    QXmlStreamReader xml(page);
    QString table;
    QString heading;
    int column = 0;
    int svgDepth = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement() && xml.name() == u"svg")
            --svgDepth;
        if (!xml.isStartElement())
            continue;
        const QString name = xml.name().toString();
        const QXmlStreamAttributes attributes = xml.attributes();
        for (const QXmlStreamAttribute &attribute : attributes) {
            if (attribute.name() == u"src" || attribute.name() == u"href")
                html.externalReferences << attribute.value().toString();
        }
        if (name == u"script" || name == u"link" || name == u"img" || name == u"iframe")
            html.externalReferences << name;
        if (attributes.hasAttribute(QLatin1String("id")) && name == u"table")
            table = attributes.value(QLatin1String("id")).toString();
        if (name == u"svg") {
            ++html.svgs;
            ++svgDepth;
        } else if (svgDepth > 0 && (name == u"rect" || name == u"path")) {
            ++html.shapes;
        } else if (name == u"p" && attributes.value(QLatin1String("id")) == u"verdict") {
            html.verdictClass = attributes.value(QLatin1String("class")).toString();
        } else if (name == u"p") {
            html.paragraphs << xml.readElementText();
        } else if (name == u"tr") {
            column = 0;
        } else if (name == u"th" && table == u"summary") {
            heading = xml.readElementText();
        } else if (name == u"td" && table == u"summary") {
            html.summary[heading] = xml.readElementText();
        } else if (name == u"td" && table == u"failed") {
            ++column;
            if (column == 2)
                html.failedIds << xml.readElementText();
            else if (column == 7)
                html.failedReplies << xml.readElementText();
        }
    }
    if (xml.hasError())
        html.error = xml.errorString();
    return html;
}
