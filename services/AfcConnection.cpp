#include "AfcConnection.h"

#include "AfcPackets.h"
#include "CFType.h"
#include "Markup.h"
#include "MobileDeviceManager.h"

#include <stdexcept>

void house_arrest_vend_container(int socket, const QString& appIdentifier)
{
    CFType request = CFType::newDictionary();
    request.setValue(CFType::fromString(QStringLiteral("Command")),
                     CFType::fromString(QStringLiteral("VendContainer")));
    request.setValue(CFType::fromString(QStringLiteral("Identifier")), CFType::fromString(appIdentifier));
    mobiledevice_sendmsg(socket, request, false, 60000);
    const CFType reply = mobiledevice_recmsg(socket, request, 60000);
    // A reply that is not even a dictionary is no consent to speak AFC either ("InstallationLookupFailed"
    // and "ApplicationLookupFailed" arrive as "Error").
    if (reply.isDictionary() && reply.value(QStringLiteral("Error")).isNull())
        return;
    const QString text = escapeAngleBrackets(QString::fromUtf8(reply.toPlistBytes(CFType::XmlFormat)));
    const std::string what =
        QStringLiteral("can not find %1.<br/>%2").arg(appIdentifier, text).toUtf8().toStdString();
    if (reply.isDictionary())
        throw ContainerRefused(what);
    throw std::runtime_error(what);
}

AfcConnection::AfcConnection(void* device) : m_device(device) {}

void AfcConnection::noteFailure(const std::exception& e)
{
    // Transport failures, unlike a status the device sends, mean the stream is lost.
    const QString text = QString::fromUtf8(e.what());
    if (text.startsWith(QLatin1String("send AFC")) || text.startsWith(QLatin1String("read AFC header")) ||
        text.startsWith(QLatin1String("read AFC file block")))
        m_broken = true;
}

AfcConnection::~AfcConnection()
{
    close();
}

void AfcConnection::open(const QString& appIdentifier)
{
    close();
    int socket = -1;
    if (appIdentifier.isEmpty()) {
        mobiledevice_start_service(m_device, QStringLiteral("com.apple.afc"), socket);
        m_socket = socket;
        return;
    }
    mobiledevice_start_service(m_device, QStringLiteral("com.apple.mobile.house_arrest"), socket);
    m_socket = socket;
    try {
        house_arrest_vend_container(m_socket, appIdentifier);
    } catch (...) {
        close();
        throw;
    }
}

void AfcConnection::adopt(int socket)
{
    close();
    m_socket = socket;
}

void AfcConnection::close()
{
    if (m_socket >= 0)
        mobiledevice_close_socket(m_socket);
    m_socket = -1;
}

bool AfcConnection::openFile(const QString& path, quint64 mode, AfcFile& file)
{
    try {
        const quint64 handle = afc_file_open(m_socket, path, mode);
        if (handle == 0)
            return false;
        file.close();
        file.m_socket = m_socket;
        file.m_handle = handle;
        return true;
    } catch (const std::exception& e) {
        noteFailure(e);
        return false;
    }
}

bool AfcConnection::removePath(const QString& path)
{
    try {
        afc_remove_path(m_socket, path);
        return true;
    } catch (const std::exception& e) {
        noteFailure(e);
        return false;
    }
}

namespace {
AfcFileInfo infoOf(const QString& path, const QMap<QString, QString>& attributes)
{
    AfcFileInfo info;
    info.path = path;
    info.type = attributes.value(QStringLiteral("st_ifmt"));
    bool ok = false;
    info.size = attributes.value(QStringLiteral("st_size")).toLongLong(&ok);
    if (!ok)
        info.size = 0;
    if (attributes.contains(QStringLiteral("st_mtime"))) {
        const qint64 ns = attributes.value(QStringLiteral("st_mtime")).toLongLong();
        info.modified = QDateTime::fromMSecsSinceEpoch(ns / 1000000, Qt::LocalTime);
    }
    return info;
}
} // namespace

AfcFileInfo AfcConnection::fileInfo(const QString& path)
{
    try {
        return infoOf(path, afc_get_file_info(m_socket, path));
    } catch (const std::exception& e) {
        noteFailure(e);
        return AfcFileInfo();
    }
}

QList<AfcFileInfo> AfcConnection::listDirectory(const QString& folder)
{
    QList<AfcFileInfo> result;
    QStringList names;
    try {
        names = afc_read_directory(m_socket, folder);
    } catch (const std::exception& e) {
        noteFailure(e);
        return result;
    }
    QStringList paths;
    QList<QByteArray> requests;
    for (const QString& name : names) {
        // A name is one entry of this folder; anything that would lead elsewhere is passed over.
        if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
            name.contains(QLatin1Char('/')))
            continue;
        paths << (folder == QLatin1String("/") ? QString(folder + name)
                                               : QString(folder + QLatin1Char('/') + name));
        requests << afc_path_data(paths.last());
    }
    // The entries' information is asked for all at once, not one round trip each.
    try {
        const QList<AfcReply> replies = afc_request_many(m_socket, AfcOperation::GetFileInfo, requests);
        for (qsizetype i = 0; i < replies.size(); ++i) {
            if (replies.at(i).operation != AfcOperation::Data)
                continue; // an entry gone since the listing, or one the device does not describe
            const AfcFileInfo info = infoOf(paths.at(i), afc_parse_file_info(replies.at(i).payload));
            if (info.isFile() || info.isDir())
                result << info;
        }
    } catch (const std::exception& e) {
        noteFailure(e);
    }
    return result;
}

int AfcConnection::removePaths(const QStringList& paths)
{
    QList<QByteArray> requests;
    for (const QString& path : paths)
        requests << afc_path_data(path);
    int removed = 0;
    try {
        for (const AfcReply& reply : afc_request_many(m_socket, AfcOperation::RemovePath, requests))
            removed += reply.operation == AfcOperation::Status && reply.status == 0 ? 1 : 0;
    } catch (const std::exception& e) {
        noteFailure(e);
    }
    return removed;
}

qint64 AfcFile::read(char* buffer, qint64 length)
{
    try {
        return afc_file_read(m_socket, m_handle, buffer, length);
    } catch (const std::exception&) {
        return -1;
    }
}

void AfcFile::close()
{
    if (m_handle != 0) {
        try {
            afc_file_close(m_socket, m_handle);
        } catch (const std::exception&) {
        }
    }
    m_handle = 0;
}
