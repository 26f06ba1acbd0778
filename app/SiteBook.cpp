#include "app/SiteBook.h"

#include <QDir>
#include <QSettings>
#include <QStringList>
#include <optional>
#include <span>

#include "link/AESCrypt.h"
#include "platform/Log.h"

namespace {

QString key(const char* base, int index)
{
    return QStringLiteral("%1_%2").arg(QLatin1String(base)).arg(index);
}

// A value with unquoted commas comes back from the settings file as a list;
// it is one string to us.
QString readString(const QSettings& settings, const QString& name)
{
    const QVariant v = settings.value(name);
    if (v.metaType().id() == QMetaType::QStringList)
        return v.toStringList().join(QStringLiteral(", "));
    return v.toString();
}

int readInt(const QSettings& settings, const QString& name)
{
    return readString(settings, name).trimmed().toInt();
}

QString encipher(const QString& clear)
{
    return QString::fromStdString(AESCrypt::AES256EncryptWithKey(clear.toStdString(), AESCrypt::kFixedKey));
}

// Empty when the stored text is not Base64 of enciphered UTF-8 text.
std::optional<QString> decipher(const QString& stored)
{
    const AESCrypt::Bytes data = AESCrypt::dataWithBase64EncodedString(stored.toStdString());
    const auto clear = AESCrypt::AES256DecryptWithKey(std::span<const uint8_t>(data), AESCrypt::kFixedKey);
    if (!clear)
        return std::nullopt;
    const QByteArray utf8(reinterpret_cast<const char*>(clear->data()), qsizetype(clear->size()));
    QString text = QString::fromUtf8(utf8);
    if (text.toUtf8() != utf8)
        return std::nullopt;
    return text;
}

// The clear text of a stored credential; what did not decipher is returned
// as `undeciphered` so that it can be written back unchanged.
QString readCredential(const QSettings& settings, const QString& name, QString& undeciphered)
{
    undeciphered.clear();
    if (!settings.contains(name))
        return QString();
    const QString stored = readString(settings, name);
    if (const auto clear = decipher(stored))
        return *clear;
    undeciphered = stored;
    return QString();
}

QString storedCredential(const QString& clear, const QString& undeciphered)
{
    return undeciphered.isEmpty() ? encipher(clear) : undeciphered;
}

bool flush(QSettings& settings)
{
    settings.sync();
    return settings.status() == QSettings::NoError;
}

}  // namespace

void SiteBook::ReadInfo()
{
    const QSettings settings(QStringLiteral("vesk"), QStringLiteral("vesk"));
    // A hand-edited count must not make the book eat the memory.
    constexpr int kMaxSites = 10000;
    int stored = readInt(settings, QStringLiteral("dvrCount"));
    if (stored > kMaxSites) {
        vlog("site count %d cut to %d", stored, kMaxSites);
        stored = kMaxSites;
    }
    m_dvrArray.clear();
    for (int i = 0; i < stored; ++i)
        m_dvrArray.push_back(readRecord(settings, i));
    readCapturePath(settings);
}

std::shared_ptr<dvrList> SiteBook::readRecord(const QSettings& settings, int index)
{
    auto r = std::make_shared<dvrList>();
    QString undeciphered;
    r->setNsStrRegName(readString(settings, key("regname", index)));
    r->setModelNum(readInt(settings, key("dvrmodel", index)));
    r->setNsStrDVRID(readCredential(settings, key("dvrid", index), undeciphered));
    r->setUndecipheredDVRID(undeciphered);
    r->setNsStrDVRPwd(readCredential(settings, key("dvrpwd", index), undeciphered));
    r->setUndecipheredDVRPwd(undeciphered);
    r->setNsStrDVRIP(readString(settings, key("dvrip", index)));
    r->setDvrport(readInt(settings, key("dvrport", index)));
    r->setBDDNSUSe(readInt(settings, key("ddnsuse", index)));
    r->setNsStrDDNSID(readString(settings, key("webcode", index)));
    r->setNsStrDDNSIP(readString(settings, key("ddnsip", index)));
    r->setDdnsPort(readInt(settings, key("ddnsport", index)));
    return r;
}

void SiteBook::readCapturePath(const QSettings& settings)
{
    m_NSSCapturePath = readString(settings, QStringLiteral("capturePath"));
    if (!m_NSSCapturePath.isEmpty())
        return;
    m_NSSCapturePath = QDir::homePath() + QStringLiteral("/capture");
    vlog("path %s", m_NSSCapturePath.toUtf8().constData());
}

void SiteBook::writeRecord(QSettings& settings, int index, const dvrList& r)
{
    settings.setValue(key("regname", index), r.nsStrRegName());
    settings.setValue(key("dvrmodel", index), r.modelNum());
    settings.setValue(key("dvrid", index), storedCredential(r.nsStrDVRID(), r.undecipheredDVRID()));
    settings.setValue(key("dvrpwd", index), storedCredential(r.nsStrDVRPwd(), r.undecipheredDVRPwd()));
    settings.setValue(key("dvrip", index), r.nsStrDVRIP());
    settings.setValue(key("dvrport", index), r.dvrport());
    settings.setValue(key("ddnsuse", index), r.bDDNSUSe());
    settings.setValue(key("webcode", index), r.nsStrDDNSID());
    settings.setValue(key("ddnsip", index), r.nsStrDDNSIP());
    settings.setValue(key("ddnsport", index), r.ddnsPort());
}

bool SiteBook::AddDVR(std::shared_ptr<dvrList> record)
{
    if (!record)
        return false;
    QSettings settings(QStringLiteral("vesk"), QStringLiteral("vesk"));
    writeRecord(settings, count(), *record);
    settings.setValue(QStringLiteral("dvrCount"), count() + 1);
    m_dvrArray.push_back(std::move(record));
    return flush(settings);
}

bool SiteBook::UpdateDVR(int row, const dvrList& record)
{
    if (!validRow(row))
        return false;
    dvrList& r = *m_dvrArray[size_t(row)];
    r.setNsStrRegName(record.nsStrRegName());
    r.setModelNum(record.modelNum());
    r.setNsStrDVRID(record.nsStrDVRID());
    r.setNsStrDVRPwd(record.nsStrDVRPwd());
    r.setNsStrDVRIP(record.nsStrDVRIP());
    r.setDvrport(record.dvrport());
    r.setBDDNSUSe(record.bDDNSUSe());
    r.setNsStrDDNSID(record.nsStrDDNSID());
    r.setNsStrDDNSIP(record.nsStrDDNSIP());
    r.setDdnsPort(record.ddnsPort());
    QSettings settings(QStringLiteral("vesk"), QStringLiteral("vesk"));
    writeRecord(settings, row, r);
    return flush(settings);
}

int SiteBook::DeleteDVR(int row)
{
    if (!validRow(row))
        return row;
    m_dvrArray.erase(m_dvrArray.begin() + row);
    SyncDVRINfo();
    return row - 1;
}

bool SiteBook::SyncDVRINfo()
{
    QSettings settings(QStringLiteral("vesk"), QStringLiteral("vesk"));
    for (int i = 0; i < count(); ++i)
        writeRecord(settings, i, *m_dvrArray[size_t(i)]);
    settings.setValue(QStringLiteral("dvrCount"), count());
    return flush(settings);
}

std::shared_ptr<dvrList> SiteBook::record(int row) const
{
    return validRow(row) ? m_dvrArray[size_t(row)] : nullptr;
}

bool SiteBook::setCapturePath(const QString& path)
{
    m_NSSCapturePath = path;
    QSettings settings(QStringLiteral("vesk"), QStringLiteral("vesk"));
    settings.setValue(QStringLiteral("capturePath"), path);
    return flush(settings);
}
