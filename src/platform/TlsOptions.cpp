#include "platform/TlsOptions.h"

QList<OptionSpec> tlsClientOptions(TlsClientOptions *tls)
{
    return {
        {{QStringLiteral("tls")},
         QString(),
         QStringLiteral("Speak TLS 1.2 or later over every connection; the server's certificate is checked against "
                        "the system's trust store and --servername."),
         OptionRead::flag(&tls->enabled)},
        {{QStringLiteral("ca")},
         QStringLiteral("FILE"),
         QStringLiteral("With --tls: trust the CA certificates in FILE (PEM) instead of the system's."),
         OptionRead::fileName(&tls->caFile)},
        {{QStringLiteral("insecure")},
         QString(),
         QStringLiteral("With --tls: check no certificate at all (said on standard error)."),
         OptionRead::flag(&tls->insecure)},
        {{QStringLiteral("servername")},
         QStringLiteral("NAME"),
         QStringLiteral("With --tls: the name the server's certificate must carry, sent in SNI (default --host)."),
         [tls](const OptionValue &value) {
             tls->serverName = QString::fromUtf8(value.bytes()).trimmed();
             return tls->serverName.isEmpty() ? value.error(QStringLiteral("no name given")) : QString();
         }},
        {{QStringLiteral("cert")},
         QStringLiteral("FILE"),
         QStringLiteral("With --tls: present the client certificate in FILE (PEM)."),
         OptionRead::fileName(&tls->certFile)},
        {{QStringLiteral("key")},
         QStringLiteral("FILE"),
         QStringLiteral("With --cert: the client certificate's private key (PEM)."),
         OptionRead::fileName(&tls->keyFile)},
        {{QStringLiteral("ciphers")},
         QStringLiteral("LIST"),
         QStringLiteral("With --tls: the ciphers to offer, as OpenSSL names them: TLS 1.3 suites "
                        "(TLS_AES_128_GCM_SHA256:...), or a TLS 1.2 cipher list, which holds the connection to TLS 1.2."),
         [tls](const OptionValue &value) {
             tls->ciphers = value.text.trimmed();
             return QString();
         }},
        {{QStringLiteral("no-resume")},
         QString(),
         QStringLiteral("With --tls: a full handshake on every connection instead of resuming the last session."),
         [tls](const OptionValue &) {
             tls->resume = false;
             return QString();
         }},
    };
}

QString checkTlsClientOptions(const CommandLine &line)
{
    const auto given = [&](const char *name) { return line.given(QLatin1String(name)); };
    QString error = OptionChecks::goesWith(
        line.parser, {"ca", "insecure", "servername", "cert", "key", "ciphers", "no-resume"}, QStringLiteral("tls"));
    if (error.isEmpty())
        error = OptionChecks::together(line.parser, QStringLiteral("cert"), QStringLiteral("key"));
    if (error.isEmpty() && given("insecure") && (given("ca") || given("servername")))
        error = QStringLiteral("--insecure checks no certificate: it does not go with --%1")
                    .arg(QLatin1String(given("ca") ? "ca" : "servername"));
    return error;
}
