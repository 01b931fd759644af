#pragma once

#include <QDir>
#include <QString>
#include <QVariantMap>

// A simulated device folder for the sim framework: values by domain and switches.
class SimDeviceFolder
{
public:
    // Creates <root>/<name> with the identity values of an iPhone.
    SimDeviceFolder(const QString& root, const QString& name, const QString& udid = QString());

    QString path() const { return m_dir.absolutePath(); }
    QDir dir() const { return m_dir; }
    QString udid() const { return m_udid; }

    // Root values (domain empty) or the values of a domain; written at once.
    void setValues(const QString& domain, const QVariantMap& values);
    // One root value, the others kept.
    void setRootValue(const QString& key, const QVariant& value);
    void setSwitch(const QString& key, const QVariant& value);
    QVariant switchValue(const QString& key) const;
    // A value as set here (domain empty for the root values).
    QVariant value(const QString& domain, const QString& key) const
    {
        return domain.isEmpty() ? m_root.value(key) : m_domains.value(domain).value(key);
    }
    // Removes the device: the framework reports it gone.
    void remove();
    // Moves the whole folder under another root, as a phone is plugged in or out at once.
    bool moveTo(const QString& root);

    // An installed app with an empty container; name empty leaves "CFBundleName" out.
    QDir addApp(const QString& identifier, const QString& name);
    // An app of the system ("ApplicationType" "System"): listed only to requests that ask for those.
    void addSystemApp(const QString& identifier, const QString& name);
    // A file below the device folder (parents created).
    static void writeFile(const QString& path, const QByteArray& content);

private:
    void writeValues();
    void writeSwitches();

    QDir m_dir;
    QString m_udid;
    QVariantMap m_root;
    QMap<QString, QVariantMap> m_domains;
    QVariantMap m_switches;
    QVariantList m_apps;
};

// XML property list of a value tree (maps, lists, strings, integers, booleans, byte arrays).
QByteArray toPlistXml(const QVariant& value);
