#include "support/testca.h"

#include <QFile>
#include <QProcess>
#include <QStringList>

namespace testca {

bool makeCertificates(const QString& dir)
{
    auto run = [&dir](const QStringList& args) {
        QProcess process;
        process.setWorkingDirectory(dir);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("openssl"), args);
        return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
               && process.exitCode() == 0;
    };
    QFile ext(dir + QStringLiteral("/ext.cnf"));
    if (!ext.open(QIODevice::WriteOnly))
        return false;
    ext.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n");
    ext.close();
    auto args = [](const QString& text) { return text.split(QLatin1Char(' '), Qt::SkipEmptyParts); };
    const QString ec = QStringLiteral("-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ");
    return run(args(QStringLiteral("req -x509 ") + ec + QStringLiteral("-keyout ca.key -out ca.pem -days 2"))
               << QStringLiteral("-subj") << QStringLiteral("/CN=Nuvarel Test CA"))
           && run(args(QStringLiteral("req ") + ec + QStringLiteral("-keyout server.key -out server.csr"))
                  << QStringLiteral("-subj") << QStringLiteral("/CN=127.0.0.1"))
           && run(args(QStringLiteral("x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial "
                                      "-out server.pem -days 2 -extfile ext.cnf")));
}

QList<QSslCertificate> caOf(const QString& dir)
{
    return QSslCertificate::fromPath(dir + QStringLiteral("/ca.pem"));
}

}  // namespace testca
