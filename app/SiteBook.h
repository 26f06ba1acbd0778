#pragma once
#include <QString>
#include <QByteArray>
#include <memory>
#include <utility>
#include <vector>

#include "app/dvrList.h"

class QSettings;

// The user's list of sites and the capture folder, kept in
// QSettings("vesk", "vesk"). Each site has ten keys "<base>_<row>" plus the
// count "dvrCount"; the user id and password are stored enciphered.
// Records are shared so that the connected site's record outlives its row.
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

    // Rewrites every record and the count. Keys of indices at or beyond the
    // count are left in place. False when the settings could not be written.
    bool SyncDVRINfo();

    int count() const { return int(m_dvrArray.size()); }
    // Null for a row out of range.
    std::shared_ptr<dvrList> record(int row) const;

    const QString& capturePath() const { return m_NSSCapturePath; }
    // Makes the folder the capture folder and stores it under "capturePath".
    bool setCapturePath(const QString& path);

private:
    static std::shared_ptr<dvrList> readRecord(const QSettings& settings, int index);
    using RawValues = std::vector<std::pair<QString, QByteArray>>;
    static void writeRecord(QSettings& settings, int index, const dvrList& record, RawValues& raw);
    void readCapturePath(const QSettings& settings);
    bool validRow(int row) const { return row >= 0 && row < count(); }

    std::vector<std::shared_ptr<dvrList>> m_dvrArray;
    QString m_NSSCapturePath;
};
