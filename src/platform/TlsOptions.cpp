#include "platform/TlsOptions.h"

#include "platform/CommandLine.h"

#include <QCommandLineParser>

QList<QCommandLineOption> tlsClientOptions()
{
    return {
        {QStringLiteral("tls"),
         QStringLiteral("Speak TLS 1.2 or later over every connection; the server's certificate is checked against "
                        "the system's trust store and --servername.")},
        {QStringLiteral("ca"), QStringLiteral("With --tls: trust the CA certificates in FILE (PEM) instead of the "
                                              "system's."),
         QStringLiteral("FILE")},
        {QStringLiteral("insecure"), QStringLiteral("With --tls: check no certificate at all (said on standard error).")},
        {QStringLiteral("servername"),
         QStringLiteral("With --tls: the name the server's certificate must carry, sent in SNI (default --host)."),
         QStringLiteral("NAME")},
        {QStringLiteral("cert"), QStringLiteral("With --tls: present the client certificate in FILE (PEM)."),
         QStringLiteral("FILE")},
        {QStringLiteral("key"), QStringLiteral("With --cert: the client certificate's private key (PEM)."),
         QStringLiteral("FILE")},
        {QStringLiteral("ciphers"),
         QStringLiteral("With --tls: the ciphers to offer, as OpenSSL names them: TLS 1.3 suites "
                        "(TLS_AES_128_GCM_SHA256:...), or a TLS 1.2 cipher list, which holds the connection to TLS 1.2."),
         QStringLiteral("LIST")},
        {QStringLiteral("no-resume"),
         QStringLiteral("With --tls: a full handshake on every connection instead of resuming the last session.")},
    };
}

QString readTlsClientOptions(const QCommandLineParser &parser, TlsClientOptions *tls)
{
    const auto given = [&](const char *name) { return parser.isSet(QLatin1String(name)); };
    const auto file = [&](const char *name) { return CommandLine::fileName(parser.value(QLatin1String(name))); };
    tls->enabled = given("tls");
    for (const char *option : {"ca", "insecure", "servername", "cert", "key", "ciphers", "no-resume"}) {
        if (given(option) && !tls->enabled)
            return QStringLiteral("--%1 goes with --tls").arg(QLatin1String(option));
    }
    if (given("cert") != given("key"))
        return QStringLiteral("--cert and --key go together");
    if (given("insecure") && (given("ca") || given("servername")))
        return QStringLiteral("--insecure checks no certificate: it does not go with --%1")
            .arg(QLatin1String(given("ca") ? "ca" : "servername"));
    tls->caFile = file("ca");
    tls->insecure = given("insecure");
    tls->serverName = QString::fromUtf8(CommandLine::bytes(parser.value(QStringLiteral("servername")))).trimmed();
    if (given("servername") && tls->serverName.isEmpty())
        return QStringLiteral("--servername: no name given");
    tls->certFile = file("cert");
    tls->keyFile = file("key");
    tls->ciphers = parser.value(QStringLiteral("ciphers")).trimmed();
    tls->resume = !given("no-resume");
    return {};
}
