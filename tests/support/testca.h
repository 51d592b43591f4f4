#pragma once

#include <QList>
#include <QSslCertificate>
#include <QString>

// A test CA and a certificate it signed for 127.0.0.1, made with the openssl tool: the
// folder then holds "ca.pem", "server.pem" and "server.key".
namespace testca {

bool makeCertificates(const QString& dir);
// The CA of a folder made by makeCertificates.
QList<QSslCertificate> caOf(const QString& dir);

}  // namespace testca
