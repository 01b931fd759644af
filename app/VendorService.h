#pragma once

#include <QByteArray>
#include <QString>

// The daily check with the vendor's server.
namespace VendorService {

inline constexpr quint32 checkInterval = 86400;

// Whether the daily check runs, given the time file's content (empty when it is missing) and the
// current time in seconds since 1970. The difference is taken as an unsigned 32-bit number, so a
// stored time in the future never holds the check back.
bool dailyCheckDue(const QByteArray& timeFileContent, qint64 now);

// The version answer's download address ("http://..."), or empty.
QString downloadAddress(const QByteArray& body);
// The status-bar link drawn in the product's colour, or empty when the answer is not a link.
QString recolouredLink(const QByteArray& body);
// A 32-bit number that tells this computer apart: a keyed hash of its machine id (never the id
// itself), 123456 when the id cannot be read.
quint32 machineSerial(const QString& machineIdFile = QStringLiteral("/etc/machine-id"));

QString versionCheckPath();
QString statusLinkPath();
QString updatePageUrl();

} // namespace VendorService
