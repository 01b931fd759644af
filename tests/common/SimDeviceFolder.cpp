#include "SimDeviceFolder.h"

#include <QFile>
#include <QFileInfo>

#include <plist/plist.h>

#include <cstdlib>

namespace {
plist_t toPlist(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::QVariantMap: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = v.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            plist_dict_set_item(dict, it.key().toUtf8().constData(), toPlist(it.value()));
        return dict;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        plist_t array = plist_new_array();
        for (const QVariant& item : v.toList())
            plist_array_append_item(array, toPlist(item));
        return array;
    }
    case QMetaType::Bool:
        return plist_new_bool(v.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return plist_new_uint(uint64_t(v.toLongLong()));
    case QMetaType::Double:
        return plist_new_real(v.toDouble());
    case QMetaType::QByteArray: {
        const QByteArray b = v.toByteArray();
        return plist_new_data(b.constData(), uint64_t(b.size()));
    }
    default:
        return plist_new_string(v.toString().toUtf8().constData());
    }
}

void writeAtomically(const QString& path, const QByteArray& data)
{
    QFile f(path + QStringLiteral(".tmp"));
    if (f.open(QIODevice::WriteOnly)) {
        f.write(data);
        f.close();
        QFile::remove(path);
        f.rename(path);
    }
}
} // namespace

namespace {
// Sets one item of a property list file, at `path` of dictionaries, keeping the rest of the file:
// the phone changes its own switches and values too (a new backup password, "WillEncrypt").
void setInFile(const QString& file, const QStringList& path, const QVariant& value)
{
    QFile f(file);
    plist_t root = nullptr;
    if (f.open(QIODevice::ReadOnly)) {
        const QByteArray xml = f.readAll();
        plist_from_memory(xml.constData(), uint32_t(xml.size()), &root);
        f.close();
    }
    if (!root || plist_get_node_type(root) != PLIST_DICT) {
        plist_free(root);
        root = plist_new_dict();
    }
    plist_t parent = root;
    for (const QString& key : path.mid(0, path.size() - 1)) {
        plist_t next = plist_dict_get_item(parent, key.toUtf8().constData());
        if (!next || plist_get_node_type(next) != PLIST_DICT) {
            next = plist_new_dict();
            plist_dict_set_item(parent, key.toUtf8().constData(), next);
        }
        parent = next;
    }
    const QByteArray one = toPlistXml(QVariantMap{{path.last(), value}});
    plist_t item = nullptr;
    plist_from_memory(one.constData(), uint32_t(one.size()), &item);
    if (plist_t node = item ? plist_dict_get_item(item, path.last().toUtf8().constData()) : nullptr)
        plist_dict_set_item(parent, path.last().toUtf8().constData(), plist_copy(node));
    plist_free(item);
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    plist_free(root);
    writeAtomically(file, QByteArray(xml, int(length)));
    std::free(xml);
}
} // namespace

QByteArray toPlistXml(const QVariant& value)
{
    plist_t p = toPlist(value);
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(p, &xml, &length);
    QByteArray result(xml, qsizetype(length));
    std::free(xml);
    plist_free(p);
    return result;
}

SimDeviceFolder::SimDeviceFolder(const QString& root, const QString& name, const QString& udid)
    : m_dir(QDir(root).filePath(name)),
      m_udid(udid.isEmpty()
                 ? QStringLiteral("00008030-0000SIM%1").arg(qHash(name) % 100000, 5, 10, QLatin1Char('0'))
                 : udid)
{
    QDir().mkpath(m_dir.absolutePath());
    m_root = {{QStringLiteral("UniqueDeviceID"), m_udid},
              {QStringLiteral("DeviceName"), name},
              {QStringLiteral("MobileSubscriberCountryCode"), QStringLiteral("310")},
              {QStringLiteral("ProductVersion"), QStringLiteral("9.3.5")},
              {QStringLiteral("ProductType"), QStringLiteral("iPhone8,1")}};
    m_domains[QStringLiteral("com.apple.disk_usage")] = {
        {QStringLiteral("TotalDataCapacity"), qint64(16000000000)},
        {QStringLiteral("AmountDataAvailable"), qint64(4000000000)}};
    m_domains[QStringLiteral("com.apple.mobile.backup")] = {{QStringLiteral("CloudBackupEnabled"), false},
                                                            {QStringLiteral("WillEncrypt"), false}};
    writeSwitches();
    writeValues();
}

void SimDeviceFolder::setValues(const QString& domain, const QVariantMap& values)
{
    if (domain.isEmpty()) {
        m_root = values;
        writeValues();
        return;
    }
    m_domains[domain] = values;
    setInFile(m_dir.filePath(QStringLiteral("values.plist")), {QStringLiteral("Domains"), domain}, values);
}

void SimDeviceFolder::setRootValue(const QString& key, const QVariant& value)
{
    m_root.insert(key, value);
    writeValues();
}

void SimDeviceFolder::setSwitch(const QString& key, const QVariant& value)
{
    m_switches.insert(key, value);
    setInFile(m_dir.filePath(QStringLiteral("switches.plist")), {key}, value);
}

QVariant SimDeviceFolder::switchValue(const QString& key) const
{
    QFile f(m_dir.filePath(QStringLiteral("switches.plist")));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray xml = f.readAll();
    plist_t p = nullptr;
    plist_from_memory(xml.constData(), uint32_t(xml.size()), &p);
    QVariant result;
    if (p) {
        plist_t item = plist_dict_get_item(p, key.toUtf8().constData());
        if (item && plist_get_node_type(item) == PLIST_BOOLEAN) {
            uint8_t b = 0;
            plist_get_bool_val(item, &b);
            result = b != 0;
        } else if (item && plist_get_node_type(item) == PLIST_UINT) {
            uint64_t v = 0;
            plist_get_uint_val(item, &v);
            result = qint64(v);
        }
        plist_free(p);
    }
    return result;
}

void SimDeviceFolder::remove()
{
    // At once, as a cable is pulled: the folder leaves in one rename and is deleted afterwards.
    QDir parent = m_dir;
    parent.cdUp();
    const QString gone =
        parent.filePath(QStringLiteral(".") + m_dir.dirName() + QStringLiteral(".unplugged"));
    if (QDir().rename(m_dir.absolutePath(), gone))
        QDir(gone).removeRecursively();
    else
        m_dir.removeRecursively();
}

QDir SimDeviceFolder::addApp(const QString& identifier, const QString& name)
{
    QVariantMap app{{QStringLiteral("CFBundleIdentifier"), identifier},
                    {QStringLiteral("ApplicationType"), QStringLiteral("User")},
                    {QStringLiteral("StaticDiskUsage"), qint64(24000000 + 1000 * m_apps.size())}};
    if (!name.isEmpty())
        app.insert(QStringLiteral("CFBundleName"), name);
    m_apps << app;
    writeAtomically(m_dir.filePath(QStringLiteral("apps.plist")), toPlistXml(m_apps));
    const QString container = m_dir.filePath(QStringLiteral("containers/") + identifier);
    QDir().mkpath(container);
    return QDir(container);
}

void SimDeviceFolder::addSystemApp(const QString& identifier, const QString& name)
{
    m_apps << QVariantMap{{QStringLiteral("CFBundleIdentifier"), identifier},
                          {QStringLiteral("CFBundleName"), name},
                          {QStringLiteral("ApplicationType"), QStringLiteral("System")},
                          {QStringLiteral("StaticDiskUsage"), qint64(12000000)}};
    writeAtomically(m_dir.filePath(QStringLiteral("apps.plist")), toPlistXml(m_apps));
}

void SimDeviceFolder::writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(content);
}

void SimDeviceFolder::writeValues()
{
    // Every phone reports its build and serial number; idevicebackup2 copies both into Info.plist
    // without checking that they are there (tools/idevicebackup2.c, 1.3.0).
    QVariantMap root = m_root;
    if (!root.contains(QStringLiteral("BuildVersion"))) {
        const QString version = root.value(QStringLiteral("ProductVersion")).toString();
        root.insert(QStringLiteral("BuildVersion"),
                    version.startsWith(QLatin1String("14"))  ? QStringLiteral("18H17")
                    : version.startsWith(QLatin1String("9")) ? QStringLiteral("13G36")
                                                             : QStringLiteral("20G75"));
    }
    if (!root.contains(QStringLiteral("SerialNumber")))
        root.insert(QStringLiteral("SerialNumber"),
                    QStringLiteral("F2L%1").arg(qHash(m_udid) % 100000000, 8, 10, QLatin1Char('0')));
    QVariantMap domains;
    for (auto it = m_domains.begin(); it != m_domains.end(); ++it)
        domains.insert(it.key(), it.value());
    writeAtomically(
        m_dir.filePath(QStringLiteral("values.plist")),
        toPlistXml(QVariantMap{{QStringLiteral("Values"), root}, {QStringLiteral("Domains"), domains}}));
}

void SimDeviceFolder::writeSwitches()
{
    writeAtomically(m_dir.filePath(QStringLiteral("switches.plist")), toPlistXml(m_switches));
}

bool SimDeviceFolder::moveTo(const QString& root)
{
    const QString target = QDir(root).filePath(m_dir.dirName());
    if (!QDir().rename(m_dir.absolutePath(), target))
        return false;
    m_dir.setPath(target);
    return true;
}
