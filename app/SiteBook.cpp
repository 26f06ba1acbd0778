#include "app/SiteBook.h"

#include <QDir>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>
#include <optional>
#include <set>
#include <span>

#include "link/AESCrypt.h"
#include "platform/GuiSettingsFile.h"
#include "platform/Log.h"

namespace {

const char* const kSiteKeys[] = {"regname", "dvrmodel", "dvrid",   "dvrpwd",  "dvrip",
                                 "dvrport", "ddnsuse",  "webcode", "ddnsip", "ddnsport"};

QString key(const char* base, int index)
{
    return QStringLiteral("%1_%2").arg(QLatin1String(base)).arg(index);
}

// Indices that have at least one of a site's keys.
std::set<int> storedIndices(const QSettings& settings)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(regname|dvrmodel|dvrid|dvrpwd|dvrip|dvrport|ddnsuse|webcode|ddnsip|ddnsport)_(\\d{1,9})$"));
    std::set<int> found;
    for (const QString& k : settings.childKeys()) {
        const QRegularExpressionMatch m = pattern.match(k);
        if (m.hasMatch())
            found.insert(m.captured(2).toInt());
    }
    return found;
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

int readInt(const QSettings& settings, const QString& name, bool* ok = nullptr)
{
    return readString(settings, name).trimmed().toInt(ok);
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

// The clear text of a stored credential; none when it is absent or does
// not decipher.
QString readCredential(const QSettings& settings, const QString& name)
{
    if (!settings.contains(name))
        return QString();
    return decipher(readString(settings, name)).value_or(QString());
}

enum { kRegName, kModel, kDvrId, kDvrPwd, kDvrIp, kDvrPort, kDdnsUse, kWebCode, kDdnsIp, kDdnsPort };

// The member stored under kSiteKeys[k], the credentials in clear text.
QVariant memberValue(const dvrList& r, int k)
{
    switch (k) {
    case kRegName: return r.nsStrRegName();
    case kModel: return r.modelNum();
    case kDvrId: return r.nsStrDVRID();
    case kDvrPwd: return r.nsStrDVRPwd();
    case kDvrIp: return r.nsStrDVRIP();
    case kDvrPort: return r.dvrport();
    case kDdnsUse: return r.bDDNSUSe();
    case kWebCode: return r.nsStrDDNSID();
    case kDdnsIp: return r.nsStrDDNSIP();
    default: return r.ddnsPort();
    }
}

QByteArray storedText(const dvrList& r, int k)
{
    const QVariant v = memberValue(r, k);
    if (v.metaType().id() == QMetaType::Int)
        return GuiSettingsFile::encode(v.toInt());
    const bool credential = k == kDvrId || k == kDvrPwd;
    return GuiSettingsFile::encode(credential ? encipher(v.toString()) : v.toString());
}

}  // namespace

// Sites are read where their keys are: a count beyond them invents no empty
// site, and a count that is not a number or negative hides none. A book
// that was not laid out as rows 0..count-1 is written back that way at once,
// so that the next Add cannot land on a stored site.
void SiteBook::ReadInfo()
{
    QSettings settings(QStringLiteral("vesk"), QStringLiteral("vesk"));
    GuiSettingsFile file(settings.fileName());
    if (!file.read())
        vlog("settings file could not be read: %s", file.path().toUtf8().constData());
    const QString countKey = QStringLiteral("dvrCount");
    bool countOk = false;
    const int stored = readInt(settings, countKey, &countOk);
    const bool usable = countOk && stored >= 0;
    if (settings.contains(countKey) && !usable)
        vlog("site count not usable, reading every stored site");
    // An absent count reads as 0; one that is not usable is written anew.
    const QVariant countRead = usable ? QVariant(stored) : settings.contains(countKey) ? QVariant() : QVariant(0);
    m_storedCount = {file.stored(countKey), countRead};
    std::vector<int> indices;
    for (int i : storedIndices(settings)) {
        if (!usable || i < stored)
            indices.push_back(i);
    }
    m_dvrArray.clear();
    m_stored.clear();
    for (int i : indices) {
        auto record = std::make_shared<dvrList>();
        m_stored.push_back(readRecord(settings, file, i, *record));
        m_dvrArray.push_back(std::move(record));
    }
    readCapturePath(settings);

    const bool inRows = indices.empty() || indices.back() == int(indices.size()) - 1;
    if (usable && inRows && stored == count())
        return;
    if (!settings.contains(countKey) && indices.empty())
        return;
    vlog("site book rewritten with %d sites", count());
    // Keys of sites that move to a lower row would stay as duplicates.
    for (int i : indices) {
        if (i >= count())
            for (const char* base : kSiteKeys)
                file.setStored(key(base, i), std::nullopt);
    }
    writeRows(file, 0, count(), true);
}

SiteBook::StoredSite SiteBook::readRecord(const QSettings& settings, const GuiSettingsFile& file, int index,
                                          dvrList& r)
{
    r.setNsStrRegName(readString(settings, key("regname", index)));
    r.setModelNum(readInt(settings, key("dvrmodel", index)));
    r.setNsStrDVRID(readCredential(settings, key("dvrid", index)));
    r.setNsStrDVRPwd(readCredential(settings, key("dvrpwd", index)));
    r.setNsStrDVRIP(readString(settings, key("dvrip", index)));
    r.setDvrport(readInt(settings, key("dvrport", index)));
    r.setBDDNSUSe(readInt(settings, key("ddnsuse", index)));
    r.setNsStrDDNSID(readString(settings, key("webcode", index)));
    r.setNsStrDDNSIP(readString(settings, key("ddnsip", index)));
    r.setDdnsPort(readInt(settings, key("ddnsport", index)));
    StoredSite site;
    site.index = index;
    for (int k = 0; k < kKeyCount; ++k)
        site.keys[size_t(k)] = {file.stored(key(kSiteKeys[k], index)), memberValue(r, k)};
    return site;
}

void SiteBook::readCapturePath(const QSettings& settings)
{
    m_NSSCapturePath = readString(settings, QStringLiteral("capturePath"));
    if (!m_NSSCapturePath.isEmpty())
        return;
    m_NSSCapturePath = QDir::homePath() + QStringLiteral("/capture");
    vlog("path %s", m_NSSCapturePath.toUtf8().constData());
}

// A value that is still what was read keeps its stored text, also under a
// new row when that text stands on any line; an absent key stays absent.
// Everything else is written as this client writes it.
SiteBook::StoredSite SiteBook::storedForm(int row) const
{
    const dvrList& r = *m_dvrArray[size_t(row)];
    const StoredSite& was = m_stored[size_t(row)];
    StoredSite now;
    now.index = row;
    for (int k = 0; k < kKeyCount; ++k) {
        const StoredValue& old = was.keys[size_t(k)];
        const QVariant value = memberValue(r, k);
        const bool movable = was.index == row || !old.text || GuiSettingsFile::isWholeValue(*old.text);
        const bool kept = was.index >= 0 && old.value == value && movable;
        now.keys[size_t(k)] = kept ? old : StoredValue{storedText(r, k), value};
    }
    return now;
}

// Stores rows [from, to) and, when asked, the count; the file changes only
// where a stored text differs from what it holds.
bool SiteBook::writeRows(GuiSettingsFile& file, int from, int to, bool withCount)
{
    std::vector<StoredSite> forms;
    for (int row = from; row < to; ++row) {
        forms.push_back(storedForm(row));
        for (int k = 0; k < kKeyCount; ++k)
            file.setStored(key(kSiteKeys[k], row), forms.back().keys[size_t(k)].text);
    }
    StoredValue countForm = m_storedCount;
    if (withCount) {
        if (countForm.value != QVariant(count()))
            countForm = {GuiSettingsFile::encode(count()), count()};
        file.setStored(QStringLiteral("dvrCount"), countForm.text);
    }
    if (!file.write())
        return false;
    for (size_t i = 0; i < forms.size(); ++i)
        m_stored[size_t(from) + i] = std::move(forms[i]);
    if (withCount)
        m_storedCount = countForm;
    return true;
}

bool SiteBook::AddDVR(std::shared_ptr<dvrList> record)
{
    if (!record)
        return false;
    m_dvrArray.push_back(std::move(record));
    m_stored.emplace_back();
    GuiSettingsFile file = GuiSettingsFile::application();
    return writeRows(file, count() - 1, count(), true);
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
    GuiSettingsFile file = GuiSettingsFile::application();
    return writeRows(file, row, row + 1, false);
}

int SiteBook::DeleteDVR(int row)
{
    if (!validRow(row))
        return row;
    m_dvrArray.erase(m_dvrArray.begin() + row);
    m_stored.erase(m_stored.begin() + row);
    SyncDVRINfo();
    return row - 1;
}

bool SiteBook::SyncDVRINfo()
{
    GuiSettingsFile file = GuiSettingsFile::application();
    return writeRows(file, 0, count(), true);
}

std::shared_ptr<dvrList> SiteBook::record(int row) const
{
    return validRow(row) ? m_dvrArray[size_t(row)] : nullptr;
}

bool SiteBook::setCapturePath(const QString& path)
{
    m_NSSCapturePath = path;
    return GuiSettingsFile::storeString(QStringLiteral("capturePath"), path);
}
