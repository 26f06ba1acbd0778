#pragma once
#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

// The application's settings file (the INI text that QSettings("vesk", "vesk")
// reads) edited line by line. A write replaces, adds or removes only the
// lines of the keys it changes and keeps every other byte, values QSettings
// could not read back included, so a value nobody edited never changes.
// Keys are those of the top-level section. Reading values stays with
// QSettings; a write moves the file's time forward so that QSettings, which
// caches the file by size and time, reads it again.
class GuiSettingsFile {
public:
    explicit GuiSettingsFile(QString path);
    // The file of QSettings("vesk", "vesk").
    static GuiSettingsFile application();

    const QString& path() const { return m_path; }

    // Loads the file as it is now; an absent file is empty. False when it
    // exists and cannot be read (errorString() says why).
    bool read();
    // The keys read, in file order.
    QStringList keys() const;
    // A key's value as stored, the text after '=' (the last line of the key
    // wins, as in QSettings); none when the key is absent. Needs read().
    std::optional<QByteArray> stored(const QString& key) const;

    // Asks for a key to hold this stored text, or to be removed (none). The
    // last request for a key wins; nothing happens before write().
    void setStored(const QString& key, std::optional<QByteArray> text);
    // Applies the requests to the file as it is when written, under the
    // lock QSettings uses, through a temporary file renamed over it. When
    // they change no byte the file is not touched. Afterwards stored()
    // answers from what was written. False when the file could not be
    // read or written: it is then as it was, errorString() says why and a
    // failure line is logged.
    bool write();
    // The same, with the requests made by plan, which runs under the lock
    // after the file has been read again: stored() and keys() answer from
    // the file as it is at that moment.
    bool update(const std::function<void(GuiSettingsFile&)>& plan);
    // Why the last read or write failed, in the system's words.
    const QString& errorString() const { return m_error; }

    // Text that QSettings reads back as this string or number.
    static QByteArray encode(const QString& value);
    static QByteArray encode(int value);
    // The string or number QSettings reads from a stored text; none for a
    // typed value ("@Variant(...)" and the like).
    static std::optional<QString> decode(const QByteArray& text);
    // True when the stored text reads as one value wherever its line stands
    // (no quote left open, no escape of the line's end).
    static bool isWholeValue(const QByteArray& text);

    // Stores one string and writes the file at once.
    static bool storeString(const QString& key, const QString& value);

private:
    QByteArray edited(const QByteArray& data) const;
    void index();
    bool fail(const char* what, const QString& reason);

    QString m_error;
    QString m_path;
    QByteArray m_data;
    QHash<QString, QByteArray> m_values;  // the stored text of each key in m_data
    QStringList m_keys;
    std::vector<std::pair<QString, std::optional<QByteArray>>> m_requests;
};
