#include "app/SiteBook.h"

#include <QDir>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>
#include <algorithm>
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
std::set<int> storedIndices(const QStringList& keys)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(regname|dvrmodel|dvrid|dvrpwd|dvrip|dvrport|ddnsuse|webcode|ddnsip|ddnsport)_(\\d{1,9})$"));
    std::set<int> found;
    for (const QString& k : keys) {
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

// The sites the file holds, as ReadInfo reads them: the indices that have
// keys, those below the count when it is usable, all of them when not.
struct FileSites {
    std::vector<int> sites;  // ascending
    bool countPresent = false;
    bool countUsable = false;
    int count = 0;
    // Where a site added now goes: after the last one.
    int end() const { return sites.empty() ? 0 : sites.back() + 1; }
};

// From the file's text as just read: QSettings keeps what it read last as
// long as the file's size and time stay, even after it failed to read it.
FileSites fileSites(const GuiSettingsFile& file)
{
    FileSites f;
    const std::optional<QByteArray> count = file.stored(QStringLiteral("dvrCount"));
    f.countPresent = count.has_value();
    bool ok = false;
    if (count)
        f.count = GuiSettingsFile::decode(*count).value_or(QString()).trimmed().toInt(&ok);
    f.countUsable = ok && f.count >= 0;
    for (int i : storedIndices(file.keys())) {
        if (!f.countUsable || i < f.count)
            f.sites.push_back(i);
    }
    return f;
}

bool contains(const std::vector<int>& sorted, int i)
{
    return std::binary_search(sorted.begin(), sorted.end(), i);
}

}  // namespace

// Sites are read where their keys are: a count beyond them invents no empty
// site, and a count that is not a number or negative hides none. A book
// that was not laid out as rows 0..count-1 is stored that way at once, so
// that the next Add cannot land on a stored site.
void SiteBook::ReadInfo()
{
    QSettings settings(QStringLiteral("vesk"), QStringLiteral("vesk"));
    GuiSettingsFile file(settings.fileName());
    if (!file.read())
        vlog("settings file could not be read: %s", file.path().toUtf8().constData());
    const FileSites disk = fileSites(file);
    if (disk.countPresent && !disk.countUsable)
        vlog("site count not usable, reading every stored site");
    m_dvrArray.clear();
    m_stored.clear();
    m_deleted.clear();
    m_renumber = false;
    m_writeError.clear();
    for (int i : disk.sites) {
        auto record = std::make_shared<dvrList>();
        m_stored.push_back(readRecord(settings, i, *record));
        m_dvrArray.push_back(std::move(record));
    }
    readCapturePath(settings);

    const bool inRows = disk.sites.empty() || disk.sites.back() == count() - 1;
    if (disk.countUsable && inRows && disk.count == count())
        return;
    if (!disk.countPresent && disk.sites.empty())
        return;
    vlog("site book rewritten with %d sites", count());
    m_renumber = true;
    store();
}

SiteBook::StoredSite SiteBook::readRecord(const QSettings& settings, int index, dvrList& r)
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
        site.values[size_t(k)] = memberValue(r, k);
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

bool SiteBook::changed(int row) const
{
    const StoredSite& s = m_stored[size_t(row)];
    if (s.index == kNew)
        return true;
    for (int k = 0; k < kKeyCount; ++k) {
        if (memberValue(*m_dvrArray[size_t(row)], k) != s.values[size_t(k)])
            return true;
    }
    return false;
}

bool SiteBook::pending() const
{
    if (m_renumber || !m_deleted.empty())
        return true;
    for (int row = 0; row < count(); ++row) {
        if (changed(row))
            return true;
    }
    return false;
}

// A site that changes row takes its stored text along; a text that only
// reads right on the file's last line is written anew.
void SiteBook::moveSite(GuiSettingsFile& file, int from, int to) const
{
    for (const char* base : kSiteKeys) {
        std::optional<QByteArray> text = file.stored(key(base, from));
        if (text && !GuiSettingsFile::isWholeValue(*text))
            text = GuiSettingsFile::encode(GuiSettingsFile::decode(*text).value_or(QString()));
        file.setStored(key(base, to), text);
    }
}

// Asks for this book's changes to be made to the file as it is now, and
// answers in placed where each row is stored afterwards.
void SiteBook::plan(GuiSettingsFile& file, std::vector<int>& placed)
{
    const FileSites disk = fileSites(file);
    const int end = disk.end();
    std::vector<int> deleted = m_deleted;
    std::sort(deleted.begin(), deleted.end());
    deleted.erase(std::unique(deleted.begin(), deleted.end()), deleted.end());
    std::vector<int> kept;
    for (int i : disk.sites) {
        if (!contains(deleted, i))
            kept.push_back(i);
    }
    const auto deletedBelow = [&](int i) {
        return int(std::lower_bound(deleted.begin(), deleted.end(), i) - deleted.begin());
    };
    // -1 when the file no longer has the site.
    const auto newIndex = [&](int i) {
        if (i < 0 || i >= end)
            return -1;
        if (!m_renumber)
            return i - deletedBelow(i);
        const auto at = std::lower_bound(kept.begin(), kept.end(), i);
        return at != kept.end() && *at == i ? int(at - kept.begin()) : -1;
    };
    if (m_renumber) {
        for (size_t j = 0; j < kept.size(); ++j) {
            if (kept[j] != int(j))
                moveSite(file, kept[j], int(j));
        }
    } else if (!deleted.empty()) {
        for (int i = deleted.front() + 1; i < end; ++i) {
            if (!contains(deleted, i))
                moveSite(file, i, newIndex(i));
        }
    }

    const int next = m_renumber ? int(kept.size()) : end - deletedBelow(end);
    int added = 0;
    placed.assign(size_t(count()), kGone);
    for (int row = 0; row < count(); ++row) {
        const StoredSite& was = m_stored[size_t(row)];
        const dvrList& r = *m_dvrArray[size_t(row)];
        int at = newIndex(was.index);
        const bool whole = at < 0;
        if (whole) {
            // A site gone from the file comes back only when edited here.
            if (was.index != kNew && !changed(row))
                continue;
            at = next + added++;
        }
        placed[size_t(row)] = at;
        for (int k = 0; k < kKeyCount; ++k) {
            if (whole || memberValue(r, k) != was.values[size_t(k)])
                file.setStored(key(kSiteKeys[k], at), storedText(r, k));
        }
    }
    const int total = next + added;
    if (m_renumber) {
        // Keys of sites that moved to a lower row would stay as duplicates.
        for (int i : disk.sites) {
            if (i >= total)
                for (const char* base : kSiteKeys)
                    file.setStored(key(base, i), std::nullopt);
        }
    }
    if (m_renumber || !deleted.empty() || added > 0)
        file.setStored(QStringLiteral("dvrCount"), GuiSettingsFile::encode(total));
}

bool SiteBook::store()
{
    m_writeError.clear();
    if (!pending())
        return true;
    GuiSettingsFile file = GuiSettingsFile::application();
    std::vector<int> placed;
    if (!file.update([&](GuiSettingsFile& f) { plan(f, placed); })) {
        m_writeError = file.errorString();
        return false;
    }
    for (int row = 0; row < count(); ++row) {
        StoredSite& s = m_stored[size_t(row)];
        s.index = placed[size_t(row)];
        if (s.index == kGone)
            continue;
        for (int k = 0; k < kKeyCount; ++k)
            s.values[size_t(k)] = memberValue(*m_dvrArray[size_t(row)], k);
    }
    m_deleted.clear();
    m_renumber = false;
    return true;
}

bool SiteBook::AddDVR(std::shared_ptr<dvrList> record)
{
    if (!record)
        return false;
    m_dvrArray.push_back(std::move(record));
    m_stored.emplace_back();
    return store();
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
    return store();
}

int SiteBook::DeleteDVR(int row)
{
    if (!validRow(row))
        return row;
    if (m_stored[size_t(row)].index >= 0)
        m_deleted.push_back(m_stored[size_t(row)].index);
    m_dvrArray.erase(m_dvrArray.begin() + row);
    m_stored.erase(m_stored.begin() + row);
    store();
    return row - 1;
}

bool SiteBook::SyncDVRINfo()
{
    return store();
}

std::shared_ptr<dvrList> SiteBook::record(int row) const
{
    return validRow(row) ? m_dvrArray[size_t(row)] : nullptr;
}

bool SiteBook::setCapturePath(const QString& path)
{
    m_NSSCapturePath = path;
    GuiSettingsFile file = GuiSettingsFile::application();
    file.setStored(QStringLiteral("capturePath"), GuiSettingsFile::encode(path));
    const bool ok = file.write();
    m_writeError = ok ? QString() : file.errorString();
    return ok;
}

QString SiteBook::fileName() const
{
    return GuiSettingsFile::application().path();
}
