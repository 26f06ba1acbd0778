#pragma once
#include <QByteArray>
#include <QString>
#include <QVariant>
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "app/dvrList.h"

class QSettings;
class GuiSettingsFile;

// The user's list of sites and the capture folder, kept in
// QSettings("vesk", "vesk"). Each site has ten keys "<base>_<row>" plus the
// count "dvrCount"; the user id and password are stored enciphered.
// Records are shared so that the connected site's record outlives its row.
// Every stored value is kept as the file holds it: a write changes only the
// keys whose values changed, and a site that moves to another row takes its
// stored text along, so values this client cannot read survive unchanged.
class SiteBook {
public:
    // Loads the book and the capture folder, replacing what is in memory.
    void ReadInfo();

    // Appends the record and stores it under the next index. False when the
    // record is null or the settings could not be written.
    bool AddDVR(std::shared_ptr<dvrList> record);

    // Copies the ten stored members into the row's own record (which keeps
    // its modelGroup) and stores them. False for a row out of range or when
    // the settings could not be written.
    bool UpdateDVR(int row, const dvrList& record);

    // Removes the row and rewrites the book. Answers the row to select
    // afterwards: the row above, or -1 when row 0 was deleted. A row out of
    // range changes nothing and is answered unchanged.
    int DeleteDVR(int row);

    // Stores every record under its row and the count. Keys of indices at or
    // beyond the count are left in place; with nothing changed the file is
    // not written. False when the settings could not be written.
    bool SyncDVRINfo();

    int count() const { return int(m_dvrArray.size()); }
    // Null for a row out of range.
    std::shared_ptr<dvrList> record(int row) const;

    const QString& capturePath() const { return m_NSSCapturePath; }
    // Makes the folder the capture folder and stores it under "capturePath".
    bool setCapturePath(const QString& path);

private:
    static constexpr int kKeyCount = 10;
    // One key of a site as the settings file holds it: the text after '='
    // (none when the key is absent) and the member value it reads as.
    struct StoredValue {
        std::optional<QByteArray> text;
        QVariant value;
    };
    // A site's keys and the row they are stored under (-1: not yet stored).
    struct StoredSite {
        int index = -1;
        std::array<StoredValue, kKeyCount> keys;
    };

    static StoredSite readRecord(const QSettings& settings, const GuiSettingsFile& file, int index, dvrList& record);
    StoredSite storedForm(int row) const;
    bool writeRows(GuiSettingsFile& file, int from, int to, bool withCount);
    void readCapturePath(const QSettings& settings);
    bool validRow(int row) const { return row >= 0 && row < count(); }

    std::vector<std::shared_ptr<dvrList>> m_dvrArray;
    std::vector<StoredSite> m_stored;  // one per record, in the same order
    StoredValue m_storedCount;         // value: the count as read, none when unusable
    QString m_NSSCapturePath;
};
