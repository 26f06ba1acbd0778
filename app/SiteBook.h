#pragma once
#include <QString>
#include <QVariant>
#include <array>
#include <memory>
#include <vector>

#include "app/dvrList.h"

class QSettings;
class GuiSettingsFile;

// The user's list of sites and the capture folder, kept in
// QSettings("vesk", "vesk"). Each site has ten keys "<base>_<row>" plus the
// count "dvrCount"; the user id and password are stored enciphered.
// Records are shared so that the connected site's record outlives its row.
// Other programs (another window of this client) may change the file at the
// same time, so a write re-reads it and stores only what this book changed
// since it last read or wrote it: values edited here, sites added here
// (after whatever the file holds by then) and sites deleted here (the later
// sites, as the file holds them, move down a row). Every other stored value
// keeps its bytes. A write that fails keeps its changes in memory; the next
// write stores them.
class SiteBook {
public:
    // Loads the book and the capture folder, replacing what is in memory.
    void ReadInfo();

    // Appends the record and stores it after the file's last site. False
    // when the record is null or the settings could not be written.
    bool AddDVR(std::shared_ptr<dvrList> record);

    // Copies the ten stored members into the row's own record (which keeps
    // its modelGroup) and stores those that changed. False for a row out of
    // range or when the settings could not be written.
    bool UpdateDVR(int row, const dvrList& record);

    // Removes the row and stores the book. Answers the row to select
    // afterwards: the row above, or -1 when row 0 was deleted. A row out of
    // range changes nothing and is answered unchanged.
    int DeleteDVR(int row);

    // Stores what changed since the last read or write; with nothing changed
    // the file is not even read. Keys of indices at or beyond the count are
    // left in place. False when the settings could not be written.
    bool SyncDVRINfo();

    int count() const { return int(m_dvrArray.size()); }
    // Null for a row out of range.
    std::shared_ptr<dvrList> record(int row) const;

    const QString& capturePath() const { return m_NSSCapturePath; }
    // Makes the folder the capture folder and stores it under "capturePath".
    bool setCapturePath(const QString& path);

    // The settings file, and why the last write failed (empty when it did not).
    QString fileName() const;
    const QString& writeError() const { return m_writeError; }

private:
    static constexpr int kKeyCount = 10;
    static constexpr int kNew = -1;   // not stored yet
    static constexpr int kGone = -2;  // no longer in the file; stored anew once edited
    // Where a site is stored and its values as this book last read or wrote
    // them; a member that differs from them is a change to store.
    struct StoredSite {
        int index = kNew;
        std::array<QVariant, kKeyCount> values;
    };

    static StoredSite readRecord(const QSettings& settings, int index, dvrList& record);
    bool changed(int row) const;
    bool pending() const;
    bool store();
    void plan(GuiSettingsFile& file, std::vector<int>& placed);
    void moveSite(GuiSettingsFile& file, int from, int to) const;
    void readCapturePath(const QSettings& settings);
    bool validRow(int row) const { return row >= 0 && row < count(); }

    std::vector<std::shared_ptr<dvrList>> m_dvrArray;
    std::vector<StoredSite> m_stored;  // one per record, in the same order
    std::vector<int> m_deleted;        // stored indices of sites deleted since the last write
    bool m_renumber = false;           // the file's sites are to be stored as rows 0..n-1
    QString m_NSSCapturePath;
    QString m_writeError;
};
