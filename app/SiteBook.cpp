#include "app/SiteBook.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>
#include <optional>
#include <set>
#include <span>

#include "link/AESCrypt.h"
#include "platform/Log.h"

namespace {

using RawValues = std::vector<std::pair<QString, QByteArray>>;

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

// The bytes after "name=" on the name's line of the settings file's
// [General] section, exactly as stored; empty when there is no such line.
QByteArray rawValue(const QString& file, const QString& name)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray prefix = name.toLatin1() + '=';
    bool general = true;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QByteArray l = line.endsWith('\r') ? line.chopped(1) : line;
        if (l.startsWith('['))
            general = l == "[General]";
        else if (general && l.startsWith(prefix))
            return l.mid(prefix.size());
    }
    return QByteArray();
}

// Puts stored bytes back over what the settings store wrote for these names.
void restoreRawValues(const QString& file, const RawValues& values)
{
    if (values.empty())
        return;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return;
    QList<QByteArray> lines = in.readAll().split('\n');
    in.close();
    bool general = true;
    for (QByteArray& line : lines) {
        if (line.startsWith('[')) {
            general = line.startsWith("[General]");
            continue;
        }
        for (const auto& [name, raw] : values) {
            const QByteArray prefix = name.toLatin1() + '=';
            if (general && line.startsWith(prefix))
                line = prefix + raw;
        }
    }
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(lines.join('\n')) < 0 || !out.commit())
        vlog("site book: stored values could not be restored in %s", file.toUtf8().constData());
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

// The clear text of a stored credential; what did not decipher is returned
// as `undeciphered`, and as the file's bytes in `raw`, so that it can be
// written back unchanged.
QString readCredential(const QSettings& settings, const QString& name, QString& undeciphered, QByteArray& raw)
{
    undeciphered.clear();
    raw.clear();
    if (!settings.contains(name))
        return QString();
    const QString stored = readString(settings, name);
    if (const auto clear = decipher(stored))
        return *clear;
    undeciphered = stored;
    raw = rawValue(settings.fileName(), name);
    return QString();
}

QString storedCredential(const QString& clear, const QString& undeciphered)
{
    return undeciphered.isEmpty() ? encipher(clear) : undeciphered;
}

// Writes the settings out, then puts back the stored bytes of values that
// did not decipher.
bool flush(QSettings& settings, const RawValues& raw = {})
{
    settings.sync();
    bool ok = settings.status() == QSettings::NoError;
    if (ok)
        restoreRawValues(settings.fileName(), raw);
    return ok;
}

}  // namespace

// Sites are read where their keys are: a count beyond them invents no empty
// site, and a count that is not a number or negative hides none. A book
// that was not laid out as rows 0..count-1 is written back that way at once,
// so that the next Add cannot land on a stored site.
void SiteBook::ReadInfo()
{
    QSettings settings(QStringLiteral("vesk"), QStringLiteral("vesk"));
    bool countOk = false;
    const int stored = readInt(settings, QStringLiteral("dvrCount"), &countOk);
    const bool usable = countOk && stored >= 0;
    if (settings.contains(QStringLiteral("dvrCount")) && !usable)
        vlog("site count not usable, reading every stored site");
    std::vector<int> indices;
    for (int i : storedIndices(settings)) {
        if (!usable || i < stored)
            indices.push_back(i);
    }
    m_dvrArray.clear();
    for (int i : indices)
        m_dvrArray.push_back(readRecord(settings, i));
    readCapturePath(settings);

    const bool inRows = indices.empty() || indices.back() == int(indices.size()) - 1;
    if (usable && inRows && stored == count())
        return;
    if (!settings.contains(QStringLiteral("dvrCount")) && indices.empty())
        return;
    vlog("site book rewritten with %d sites", count());
    // Keys of sites that move to a lower row would stay as duplicates.
    for (int i : indices) {
        if (i >= count())
            for (const char* base : kSiteKeys)
                settings.remove(key(base, i));
    }
    flush(settings);
    SyncDVRINfo();
}

std::shared_ptr<dvrList> SiteBook::readRecord(const QSettings& settings, int index)
{
    auto r = std::make_shared<dvrList>();
    QString undeciphered;
    QByteArray raw;
    r->setNsStrRegName(readString(settings, key("regname", index)));
    r->setModelNum(readInt(settings, key("dvrmodel", index)));
    r->setNsStrDVRID(readCredential(settings, key("dvrid", index), undeciphered, raw));
    r->setUndecipheredDVRID(undeciphered);
    r->setRawDVRID(raw);
    r->setNsStrDVRPwd(readCredential(settings, key("dvrpwd", index), undeciphered, raw));
    r->setUndecipheredDVRPwd(undeciphered);
    r->setRawDVRPwd(raw);
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

void SiteBook::writeRecord(QSettings& settings, int index, const dvrList& r, RawValues& raw)
{
    if (!r.undecipheredDVRID().isEmpty() && !r.rawDVRID().isEmpty())
        raw.emplace_back(key("dvrid", index), r.rawDVRID());
    if (!r.undecipheredDVRPwd().isEmpty() && !r.rawDVRPwd().isEmpty())
        raw.emplace_back(key("dvrpwd", index), r.rawDVRPwd());
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
    RawValues raw;
    writeRecord(settings, count(), *record, raw);
    settings.setValue(QStringLiteral("dvrCount"), count() + 1);
    m_dvrArray.push_back(std::move(record));
    return flush(settings, raw);
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
    RawValues raw;
    writeRecord(settings, row, r, raw);
    return flush(settings, raw);
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
    RawValues raw;
    for (int i = 0; i < count(); ++i)
        writeRecord(settings, i, *m_dvrArray[size_t(i)], raw);
    settings.setValue(QStringLiteral("dvrCount"), count());
    return flush(settings, raw);
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
