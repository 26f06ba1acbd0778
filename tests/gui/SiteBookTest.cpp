#include <gtest/gtest.h>

#include "GuiTestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSettings>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "app/SiteBook.h"
#include "platform/GuiSettingsFile.h"
#include "link/AESCrypt.h"
#include "platform/Log.h"

namespace {

using guitest::configHome;

QVariant stored(const QString& name)
{
    return QSettings(QStringLiteral("vesk"), QStringLiteral("vesk")).value(name);
}

void store(const QString& name, const QVariant& value)
{
    QSettings s(QStringLiteral("vesk"), QStringLiteral("vesk"));
    s.setValue(name, value);
    s.sync();
}

QString confFileName()
{
    return QSettings(QStringLiteral("vesk"), QStringLiteral("vesk")).fileName();
}

std::shared_ptr<dvrList> site(const QString& name, const QString& id = QString(), const QString& pwd = QString())
{
    auto r = std::make_shared<dvrList>();
    r->setNsStrRegName(name);
    r->setModelNum(2);
    r->setNsStrDVRID(id);
    r->setNsStrDVRPwd(pwd);
    r->setNsStrDVRIP(name + QStringLiteral(".example.net"));
    r->setDvrport(3000);
    return r;
}

std::vector<QString> names(const SiteBook& book)
{
    std::vector<QString> out;
    for (int i = 0; i < book.count(); ++i)
        out.push_back(book.record(i)->nsStrRegName());
    return out;
}

class SiteBookTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(configHome().isValid());
        QSettings s(QStringLiteral("vesk"), QStringLiteral("vesk"));
        s.clear();
        s.sync();
    }
    void TearDown() override { SetUp(); }
};

TEST_F(SiteBookTest, AddedSitesAreStoredExactlyAndReadBackAfterRestart)
{
    {
        SiteBook book;
        book.ReadInfo();
        auto a = site(QStringLiteral("Warehouse"), QStringLiteral("admin"), QString::fromUtf8("pässwörd, 1"));
        a->setModelGroup(9);
        a->setBDDNSUSe(1);
        a->setNsStrDDNSID(QStringLiteral("h12345"));
        a->setNsStrDDNSIP(QStringLiteral("203.0.113.7"));
        a->setDdnsPort(2400);
        ASSERT_TRUE(book.AddDVR(a));
        auto b = site(QStringLiteral("Shop, north"));
        b->setModelNum(1);
        ASSERT_TRUE(book.AddDVR(b));
    }
    EXPECT_TRUE(confFileName().endsWith(QStringLiteral("/vesk/vesk.conf")));
    EXPECT_EQ(stored("dvrCount").toInt(), 2);
    EXPECT_EQ(stored("regname_0").toString(), QStringLiteral("Warehouse"));
    EXPECT_EQ(stored("dvrmodel_0").toInt(), 2);
    EXPECT_EQ(stored("dvrid_0").toString(), QStringLiteral("0wthgNlQ0UmJHZK8RKEk8w=="));
    EXPECT_EQ(stored("dvrpwd_1").toString(),
              QString::fromStdString(AESCrypt::AES256EncryptWithKey(std::string(), AESCrypt::kFixedKey)));
    EXPECT_EQ(stored("dvrport_0").toInt(), 3000);
    EXPECT_EQ(stored("ddnsuse_0").toInt(), 1);
    EXPECT_EQ(stored("webcode_0").toString(), QStringLiteral("h12345"));
    EXPECT_EQ(stored("ddnsport_0").toInt(), 2400);

    SiteBook book;
    book.ReadInfo();
    ASSERT_EQ(book.count(), 2);
    const auto a = book.record(0);
    EXPECT_EQ(a->nsStrRegName(), QStringLiteral("Warehouse"));
    EXPECT_EQ(a->modelNum(), 2);
    EXPECT_EQ(a->modelGroup(), 0);
    EXPECT_EQ(a->nsStrDVRID(), QStringLiteral("admin"));
    EXPECT_EQ(a->nsStrDVRPwd(), QString::fromUtf8("pässwörd, 1"));
    EXPECT_EQ(a->nsStrDVRIP(), QStringLiteral("Warehouse.example.net"));
    EXPECT_EQ(a->dvrport(), 3000);
    EXPECT_EQ(a->bDDNSUSe(), 1);
    EXPECT_EQ(a->nsStrDDNSID(), QStringLiteral("h12345"));
    EXPECT_EQ(a->nsStrDDNSIP(), QStringLiteral("203.0.113.7"));
    EXPECT_EQ(a->ddnsPort(), 2400);
    EXPECT_EQ(book.record(1)->nsStrRegName(), QStringLiteral("Shop, north"));
    EXPECT_EQ(book.record(1)->modelNum(), 1);
    EXPECT_TRUE(book.record(1)->nsStrDVRPwd().isEmpty());
    EXPECT_EQ(book.record(2), nullptr);
}

TEST_F(SiteBookTest, UpdateCopiesIntoTheRowsRecordAndStoresIt)
{
    SiteBook book;
    book.ReadInfo();
    ASSERT_TRUE(book.AddDVR(site(QStringLiteral("A"))));
    ASSERT_TRUE(book.AddDVR(site(QStringLiteral("B"))));
    const auto row1 = book.record(1);
    row1->setModelGroup(11);

    dvrList edited;
    edited.setNsStrRegName(QString());
    edited.setModelNum(1);
    edited.setNsStrDVRID(QStringLiteral("admin"));
    edited.setNsStrDVRIP(QStringLiteral("192.0.2.1"));
    edited.setDvrport(4000);
    ASSERT_TRUE(book.UpdateDVR(1, edited));
    EXPECT_EQ(book.record(1), row1);
    EXPECT_EQ(row1->modelGroup(), 11);
    EXPECT_EQ(row1->nsStrRegName(), QString());
    EXPECT_EQ(row1->dvrport(), 4000);
    EXPECT_EQ(stored("regname_1").toString(), QString());
    EXPECT_EQ(stored("dvrmodel_1").toInt(), 1);
    EXPECT_EQ(stored("dvrid_1").toString(), QStringLiteral("0wthgNlQ0UmJHZK8RKEk8w=="));
    EXPECT_EQ(stored("dvrCount").toInt(), 2);

    EXPECT_FALSE(book.UpdateDVR(-1, edited));
    EXPECT_FALSE(book.UpdateDVR(2, edited));
    EXPECT_EQ(book.count(), 2);
}

TEST_F(SiteBookTest, DeleteShiftsRowsAndSelectsTheRowAbove)
{
    SiteBook book;
    book.ReadInfo();
    for (const char* n : {"A", "B", "C", "D"})
        ASSERT_TRUE(book.AddDVR(site(QString::fromLatin1(n))));
    const auto connected = book.record(2);

    EXPECT_EQ(book.DeleteDVR(2), 1);
    EXPECT_EQ(names(book), (std::vector<QString>{"A", "B", "D"}));
    EXPECT_EQ(stored("dvrCount").toInt(), 3);
    EXPECT_EQ(stored("regname_2").toString(), QStringLiteral("D"));
    EXPECT_EQ(stored("dvrip_2").toString(), QStringLiteral("D.example.net"));
    EXPECT_EQ(stored("regname_3").toString(), QStringLiteral("D"));  // beyond the count, left in place
    connected->setModelGroup(12);  // the connected record outlives its row
    EXPECT_EQ(connected->modelGroup(), 12);

    EXPECT_EQ(book.DeleteDVR(0), -1);
    EXPECT_EQ(names(book), (std::vector<QString>{"B", "D"}));
    EXPECT_EQ(book.DeleteDVR(-1), -1);
    EXPECT_EQ(book.DeleteDVR(2), 2);
    EXPECT_EQ(book.count(), 2);

    ASSERT_TRUE(book.AddDVR(site(QStringLiteral("E"))));
    SiteBook reread;
    reread.ReadInfo();
    EXPECT_EQ(names(reread), (std::vector<QString>{"B", "D", "E"}));
}

TEST_F(SiteBookTest, CountSmallerThanStoredKeysReadsOnlyCountedSites)
{
    for (int i = 0; i < 3; ++i)
        store(QStringLiteral("regname_%1").arg(i), QStringLiteral("S%1").arg(i));
    store(QStringLiteral("dvrCount"), 2);

    SiteBook book;
    book.ReadInfo();
    EXPECT_EQ(names(book), (std::vector<QString>{"S0", "S1"}));
    EXPECT_EQ(book.record(0)->dvrport(), 0);
    EXPECT_TRUE(book.record(0)->nsStrDVRIP().isEmpty());
    ASSERT_TRUE(book.SyncDVRINfo());
    EXPECT_EQ(stored("dvrCount").toInt(), 2);
    EXPECT_EQ(stored("regname_2").toString(), QStringLiteral("S2"));
    EXPECT_EQ(stored("dvrid_0").toString(), stored("dvrpwd_1").toString());  // absent reads as none
}

TEST_F(SiteBookTest, UndecipherableCredentialKeepsItsStoredText)
{
    const QString admin = QStringLiteral("0wthgNlQ0UmJHZK8RKEk8w==");
    const QString garbage = QStringLiteral("not a cipher");
    const QString badPadding = QStringLiteral("AAAAAAAAAAAAAAAAAAAAAA==");
    store(QStringLiteral("dvrCount"), 2);
    store(QStringLiteral("regname_0"), QStringLiteral("Old"));
    store(QStringLiteral("dvrid_0"), admin);
    store(QStringLiteral("dvrpwd_0"), garbage);
    store(QStringLiteral("regname_1"), QStringLiteral("Other"));
    store(QStringLiteral("dvrid_1"), badPadding);

    SiteBook book;
    book.ReadInfo();
    ASSERT_EQ(book.count(), 2);
    EXPECT_EQ(book.record(0)->nsStrDVRID(), QStringLiteral("admin"));
    EXPECT_TRUE(book.record(0)->nsStrDVRPwd().isEmpty());
    EXPECT_TRUE(book.record(1)->nsStrDVRID().isEmpty());
    ASSERT_TRUE(book.SyncDVRINfo());
    EXPECT_EQ(stored("dvrid_0").toString(), admin);
    EXPECT_EQ(stored("dvrpwd_0").toString(), garbage);
    EXPECT_EQ(stored("dvrid_1").toString(), badPadding);

    // An update that leaves the unreadable value as shown keeps it too.
    auto shown = site(QStringLiteral("Renamed"), QStringLiteral("admin"), QString());
    ASSERT_TRUE(book.UpdateDVR(0, *shown));
    EXPECT_EQ(stored("regname_0").toString(), QStringLiteral("Renamed"));
    EXPECT_EQ(stored("dvrpwd_0").toString(), garbage);

    // A new value replaces it.
    shown->setNsStrDVRPwd(QStringLiteral("admin"));
    ASSERT_TRUE(book.UpdateDVR(0, *shown));
    EXPECT_EQ(stored("dvrpwd_0").toString(), admin);
    EXPECT_EQ(book.DeleteDVR(0), -1);
    EXPECT_EQ(stored("dvrid_0").toString(), badPadding);
}

TEST_F(SiteBookTest, CaptureFolderDefaultsToHomeAndIsStored)
{
    std::vector<std::string> logged;
    const LogSink old = setLogSink([&](const std::string& line) { logged.push_back(line); });
    SiteBook book;
    book.ReadInfo();
    setLogSink(old);
    const QString fallback = QDir::homePath() + QStringLiteral("/capture");
    EXPECT_EQ(book.count(), 0);
    EXPECT_EQ(book.capturePath(), fallback);
    EXPECT_EQ(logged, std::vector<std::string>{"path " + fallback.toStdString()});

    const QString chosen = configHome().path() + QStringLiteral("/shots");
    ASSERT_TRUE(book.setCapturePath(chosen));
    EXPECT_EQ(book.capturePath(), chosen);
    SiteBook next;
    next.ReadInfo();
    EXPECT_EQ(next.capturePath(), chosen);

    store(QStringLiteral("capturePath"), QString());
    next.ReadInfo();
    EXPECT_EQ(next.capturePath(), fallback);
}

TEST_F(SiteBookTest, BookWrittenByAnotherProgramIsRead)
{
    QFile::remove(confFileName());
    ASSERT_TRUE(QDir().mkpath(QFileInfo(confFileName()).path()));
    QFile conf(confFileName());
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("[General]\r\n"
               "dvrCount=1\r\n"
               "regname_0=Shop, north\r\n"
               "dvrmodel_0=2\r\n"
               "dvrid_0=0wthgNlQ0UmJHZK8RKEk8w==\r\n"
               "dvrpwd_0=\"0wthgNlQ0UmJHZK8RKEk8w==\"\r\n"
               "dvrip_0=192.0.2.10\r\n"
               "dvrport_0=3000\r\n"
               "ddnsuse_0=1\r\n"
               "webcode_0=d4711\r\n"
               "ddnsip_0=203.0.113.7\r\n"
               "ddnsport_0=2500\r\n"
               "capturePath=/srv/B\xc3\xbcro shots\r\n");
    conf.close();

    SiteBook book;
    book.ReadInfo();
    ASSERT_EQ(book.count(), 1);
    const auto r = book.record(0);
    EXPECT_EQ(r->nsStrRegName(), QStringLiteral("Shop, north"));
    EXPECT_EQ(r->modelNum(), 2);
    EXPECT_EQ(r->nsStrDVRID(), QStringLiteral("admin"));
    EXPECT_EQ(r->nsStrDVRPwd(), QStringLiteral("admin"));
    EXPECT_EQ(r->nsStrDVRIP(), QStringLiteral("192.0.2.10"));
    EXPECT_EQ(r->dvrport(), 3000);
    EXPECT_EQ(r->bDDNSUSe(), 1);
    EXPECT_EQ(r->nsStrDDNSID(), QStringLiteral("d4711"));
    EXPECT_EQ(r->nsStrDDNSIP(), QStringLiteral("203.0.113.7"));
    EXPECT_EQ(r->ddnsPort(), 2500);
    EXPECT_EQ(book.capturePath(), QString::fromUtf8("/srv/Büro shots"));

    ASSERT_TRUE(book.SyncDVRINfo());
    SiteBook again;
    again.ReadInfo();
    EXPECT_EQ(again.record(0)->nsStrRegName(), QStringLiteral("Shop, north"));
    EXPECT_EQ(again.record(0)->nsStrDVRPwd(), QStringLiteral("admin"));
}

// A book as another program (or a hand) left it: CRLF lines, a comment, a
// section of its own, keys this client does not know, and values it cannot
// read: a name that is not UTF-8, names that QSettings takes for a rectangle,
// ports that are not numbers.
using RawSite = std::vector<std::pair<QByteArray, QByteArray>>;

const RawSite kGate = {{"regname", "Gate \xff\xfe"}, {"dvrmodel", "2"}, {"dvrid", "0wthgNlQ0UmJHZK8RKEk8w=="},
                       {"dvrpwd", "not a cipher"}, {"dvrip", "192.0.2.10"}, {"dvrport", "9000abc"},
                       {"webcode", "h1"}};
const RawSite kRect = {{"regname", "@Rect(1 2 3 4)"}, {"dvrmodel", "2"}, {"dvrid", "0wthgNlQ0UmJHZK8RKEk8w=="},
                       {"dvrip", " 192.0.2.11 "}, {"dvrport", "99999999999"}};
const RawSite kVariant = {{"regname", "@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\aQRect\\0)"}, {"dvrmodel", "1"},
                          {"dvrport", "3000"}};

QByteArray rawBook(const std::vector<RawSite>& sites, const QByteArray& count)
{
    QByteArray text = "; sites kept by hand\r\n[General]\r\ndvrCount=" + count + "\r\n";
    for (size_t i = 0; i < sites.size(); ++i)
        for (const auto& [base, value] : sites[i])
            text += base + '_' + QByteArray::number(qsizetype(i)) + '=' + value + "\r\n";
    return text + "extra_key=kept, as is\r\ncapturePath=/srv/B\xc3\xbcro\r\n\r\n[Other]\r\nregname_0=not a site\r\n";
}

void writeBook(const QByteArray& text)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(confFileName()).path()));
    QFile conf(confFileName());
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(conf.write(text), text.size());
}

// As text, so that a difference shows readably.
std::string bookBytes()
{
    QFile conf(confFileName());
    return conf.open(QIODevice::ReadOnly) ? conf.readAll().toStdString() : std::string();
}

void copyStored(dvrList& to, const dvrList& from)
{
    to.setNsStrRegName(from.nsStrRegName());
    to.setModelNum(from.modelNum());
    to.setNsStrDVRID(from.nsStrDVRID());
    to.setNsStrDVRPwd(from.nsStrDVRPwd());
    to.setNsStrDVRIP(from.nsStrDVRIP());
    to.setDvrport(from.dvrport());
    to.setBDDNSUSe(from.bDDNSUSe());
    to.setNsStrDDNSID(from.nsStrDDNSID());
    to.setNsStrDDNSIP(from.nsStrDDNSIP());
    to.setDdnsPort(from.ddnsPort());
}

TEST_F(SiteBookTest, UnreadableValuesLoadAsBeforeAndExitLeavesTheFileUntouched)
{
    const QByteArray original = rawBook({kGate, kRect, kVariant}, "3");
    writeBook(original);
    const QDateTime written = QFileInfo(confFileName()).lastModified();

    SiteBook book;
    book.ReadInfo();
    ASSERT_EQ(book.count(), 3);
    const auto gate = book.record(0);
    EXPECT_EQ(gate->nsStrRegName(), QString::fromUtf8("Gate \xff\xfe"));
    EXPECT_EQ(gate->nsStrDVRID(), QStringLiteral("admin"));
    EXPECT_TRUE(gate->nsStrDVRPwd().isEmpty());
    EXPECT_EQ(gate->dvrport(), 0);
    EXPECT_EQ(gate->nsStrDDNSID(), QStringLiteral("h1"));
    EXPECT_EQ(book.record(1)->nsStrRegName(), QString());
    EXPECT_EQ(book.record(1)->nsStrDVRIP(), QStringLiteral("192.0.2.11"));
    EXPECT_EQ(book.record(1)->dvrport(), 0);
    EXPECT_EQ(book.record(2)->nsStrRegName(), QString());
    EXPECT_EQ(book.record(2)->modelNum(), 1);
    EXPECT_EQ(book.record(2)->dvrport(), 3000);
    EXPECT_EQ(book.capturePath(), QString::fromUtf8("/srv/B\xc3\xbcro"));

    ASSERT_TRUE(book.SyncDVRINfo());
    ASSERT_TRUE(book.setCapturePath(book.capturePath()));
    EXPECT_EQ(bookBytes(), original.toStdString());
    EXPECT_EQ(QFileInfo(confFileName()).lastModified(), written);  // not even rewritten
}

TEST_F(SiteBookTest, UpdateRewritesOnlyTheEditedKeys)
{
    QByteArray expected = rawBook({kGate, kRect, kVariant}, "3");
    writeBook(expected);
    SiteBook book;
    book.ReadInfo();
    ASSERT_EQ(book.count(), 3);
    dvrList shown;
    copyStored(shown, *book.record(1));
    shown.setDvrport(4000);
    ASSERT_TRUE(book.UpdateDVR(1, shown));
    expected.replace("dvrport_1=99999999999", "dvrport_1=4000");
    EXPECT_EQ(bookBytes(), expected.toStdString());

    shown.setNsStrRegName(QStringLiteral("North, gate"));
    ASSERT_TRUE(book.UpdateDVR(1, shown));
    expected.replace("regname_1=@Rect(1 2 3 4)", "regname_1=\"North, gate\"");
    EXPECT_EQ(bookBytes(), expected.toStdString());

    // QSettings takes a file of the size and time it saw last as unchanged,
    // so a write moves the time forward, even past a time ahead of the clock.
    const QDateTime ahead = QDateTime::currentDateTime().addSecs(3600);
    {
        QFile conf(confFileName());
        ASSERT_TRUE(conf.open(QIODevice::ReadWrite));
        ASSERT_TRUE(conf.setFileTime(ahead, QFileDevice::FileModificationTime));
    }
    EXPECT_EQ(stored(QStringLiteral("dvrport_1")).toInt(), 4000);
    shown.setDvrport(5000);
    ASSERT_TRUE(book.UpdateDVR(1, shown));
    EXPECT_GT(QFileInfo(confFileName()).lastModified(), ahead);
    EXPECT_EQ(stored(QStringLiteral("dvrport_1")).toInt(), 5000);
    SiteBook again;
    again.ReadInfo();
    EXPECT_EQ(again.record(1)->nsStrRegName(), QStringLiteral("North, gate"));
    EXPECT_EQ(again.record(0)->nsStrRegName(), QString::fromUtf8("Gate \xff\xfe"));
}

TEST_F(SiteBookTest, DeleteMovesTheLaterSitesStoredTextDown)
{
    writeBook(rawBook({kGate, kRect, kVariant}, "3"));
    SiteBook book;
    book.ReadInfo();
    ASSERT_EQ(book.DeleteDVR(0), -1);
    // The last row's keys stay beyond the count.
    EXPECT_EQ(bookBytes(), rawBook({kRect, kVariant, kVariant}, "2").toStdString());

    SiteBook again;
    again.ReadInfo();
    ASSERT_EQ(again.count(), 2);
    EXPECT_EQ(again.record(0)->nsStrDVRIP(), QStringLiteral("192.0.2.11"));
    EXPECT_TRUE(again.record(0)->nsStrDDNSID().isEmpty());
    EXPECT_EQ(again.record(1)->modelNum(), 1);
    EXPECT_EQ(again.record(1)->dvrport(), 3000);
    EXPECT_TRUE(again.record(1)->nsStrDVRID().isEmpty());
}

TEST_F(SiteBookTest, AddAppendsTheNewSiteAndKeepsTheRest)
{
    writeBook(rawBook({kGate, kRect, kVariant}, "3"));
    SiteBook book;
    book.ReadInfo();
    ASSERT_TRUE(book.AddDVR(site(QStringLiteral("New"))));
    // Base64 ends in '=', which is quoted as QSettings does.
    const QByteArray none =
        '"' + QByteArray::fromStdString(AESCrypt::AES256EncryptWithKey(std::string(), AESCrypt::kFixedKey)) + '"';
    QByteArray expected = rawBook({kGate, kRect, kVariant}, "4");
    expected.replace("capturePath=/srv/B\xc3\xbcro\r\n",
                     "capturePath=/srv/B\xc3\xbcro\r\nregname_3=New\r\ndvrmodel_3=2\r\ndvrid_3=" + none +
                         "\r\ndvrpwd_3=" + none +
                         "\r\ndvrip_3=New.example.net\r\ndvrport_3=3000\r\nddnsuse_3=0\r\nwebcode_3=\r\nddnsip_3="
                         "\r\nddnsport_3=0\r\n");
    EXPECT_EQ(bookBytes(), expected.toStdString());

    ASSERT_TRUE(book.setCapturePath(QStringLiteral("/srv/shots")));
    expected.replace("capturePath=/srv/B\xc3\xbcro", "capturePath=/srv/shots");
    EXPECT_EQ(bookBytes(), expected.toStdString());
    SiteBook again;
    again.ReadInfo();
    EXPECT_EQ(names(again).back(), QStringLiteral("New"));
    EXPECT_EQ(again.capturePath(), QStringLiteral("/srv/shots"));
}

TEST_F(SiteBookTest, StoredTextsReadBackAsWritten)
{
    const std::vector<QString> texts = {
        QStringLiteral(" lead"), QStringLiteral("trail "), QStringLiteral("@Rect(1 2 3 4)"), QStringLiteral("@@x"),
        QStringLiteral("a\"b\\c"), QStringLiteral("semi;colon"), QStringLiteral("eq=ual"), QStringLiteral("[General]"),
        QStringLiteral("; no comment"), QStringLiteral("tab\there\nline"), QString(QChar(0)) + QStringLiteral("1"),
        QString::fromUtf8("\x01" "fa\x7f" "b"), QString::fromUtf8("B\xc3\xbcro \xe2\x98\x83 \xf0\x9d\x84\x9e"),
        QString()};
    SiteBook book;
    book.ReadInfo();
    for (const QString& text : texts)
        ASSERT_TRUE(book.AddDVR(site(text)));
    SiteBook again;
    again.ReadInfo();
    EXPECT_EQ(names(again), texts);
}

// Two books on one file, as two clients: a delete in one moves down the
// sites as the file holds them by then, what the other renamed or added
// included, and a book with nothing of its own to store writes nothing.
TEST_F(SiteBookTest, DeleteInOneBookKeepsWhatAnotherStoredMeanwhile)
{
    {
        SiteBook seed;
        seed.ReadInfo();
        for (const char* n : {"A", "B", "C"})
            ASSERT_TRUE(seed.AddDVR(site(QString::fromLatin1(n))));
    }
    SiteBook one;
    one.ReadInfo();
    SiteBook other;
    other.ReadInfo();
    ASSERT_TRUE(other.AddDVR(site(QStringLiteral("D"))));
    dvrList renamed;
    copyStored(renamed, *other.record(2));
    renamed.setNsStrRegName(QStringLiteral("C2"));
    ASSERT_TRUE(other.UpdateDVR(2, renamed));

    EXPECT_EQ(one.DeleteDVR(0), -1);
    SiteBook reread;
    reread.ReadInfo();
    ASSERT_EQ(names(reread), (std::vector<QString>{"B", "C2", "D"}));
    EXPECT_EQ(reread.record(2)->nsStrDVRIP(), QStringLiteral("D.example.net"));

    // The deleting book edits its rows where they are now, and adds last.
    dvrList b;
    copyStored(b, *one.record(0));
    b.setDvrport(4000);
    ASSERT_TRUE(one.UpdateDVR(0, b));
    ASSERT_TRUE(one.AddDVR(site(QStringLiteral("E"))));
    const std::string bytes = bookBytes();
    ASSERT_TRUE(other.SyncDVRINfo());
    EXPECT_EQ(bookBytes(), bytes);
    reread.ReadInfo();
    ASSERT_EQ(names(reread), (std::vector<QString>{"B", "C2", "D", "E"}));
    EXPECT_EQ(reread.record(0)->dvrport(), 4000);
    EXPECT_EQ(reread.record(1)->dvrport(), 3000);
}

}  // namespace

namespace {

// A count that does not match the stored sites neither invents empty sites
// nor hides stored ones, and the next Add lands after them.
TEST(SiteBookLimits, BadCountsKeepExactlyTheStoredSites)
{
    QSettings s(QStringLiteral("vesk"), QStringLiteral("vesk"));
    for (const char* count : {"2147483647", "-3", "many"}) {
        s.clear();
        s.setValue(QStringLiteral("dvrCount"), QString::fromLatin1(count));
        s.setValue(QStringLiteral("regname_0"), QStringLiteral("First"));
        s.setValue(QStringLiteral("regname_2"), QStringLiteral("Third"));
        s.setValue(QStringLiteral("dvrport_2"), 9000);
        s.sync();
        SiteBook book;
        book.ReadInfo();
        ASSERT_EQ(book.count(), 2) << count;
        EXPECT_EQ(book.record(1)->nsStrRegName(), QStringLiteral("Third"));
        EXPECT_EQ(book.record(1)->dvrport(), 9000);
        auto added = std::make_shared<dvrList>();
        added->setNsStrRegName(QStringLiteral("Added"));
        book.AddDVR(added);
        book.SyncDVRINfo();

        SiteBook again;
        again.ReadInfo();
        ASSERT_EQ(again.count(), 3) << count;
        EXPECT_EQ(again.record(0)->nsStrRegName(), QStringLiteral("First"));
        EXPECT_EQ(again.record(1)->nsStrRegName(), QStringLiteral("Third"));
        EXPECT_EQ(again.record(2)->nsStrRegName(), QStringLiteral("Added"));
        EXPECT_FALSE(QSettings(QStringLiteral("vesk"), QStringLiteral("vesk")).contains(QStringLiteral("regname_3")));
    }
    s.clear();
}

// A stored password that does not decipher goes back to the file with the
// same bytes, even when they are not valid text.
TEST(SiteBookLimits, UndecipheredValueIsWrittenBackByteForByte)
{
    QString file;
    {
        QSettings s(QStringLiteral("vesk"), QStringLiteral("vesk"));
        s.clear();
        s.setValue(QStringLiteral("dvrCount"), 1);
        s.setValue(QStringLiteral("regname_0"), QStringLiteral("Gate"));
        s.setValue(QStringLiteral("dvrpwd_0"), QStringLiteral("PLACEHOLDER"));
        s.sync();
        file = s.fileName();
    }
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QByteArray text = f.readAll();
    f.close();
    const QByteArray raw("ab\xff\xfe=cd");
    text.replace("PLACEHOLDER", raw);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
    f.close();

    SiteBook book;
    book.ReadInfo();
    ASSERT_EQ(book.count(), 1);
    EXPECT_TRUE(book.record(0)->nsStrDVRPwd().isEmpty());
    book.record(0)->setNsStrRegName(QStringLiteral("Gate 2"));
    EXPECT_TRUE(book.SyncDVRINfo());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray after = f.readAll();
    EXPECT_TRUE(after.contains("\ndvrpwd_0=" + raw + "\n")) << after.toStdString();
    EXPECT_TRUE(after.contains("Gate 2"));
    QSettings(QStringLiteral("vesk"), QStringLiteral("vesk")).clear();
}

}  // namespace

namespace {

QMap<QString, QVariant> iniValues(const QString& path)
{
    QSettings s(path, QSettings::IniFormat);
    QMap<QString, QVariant> values;
    for (const QString& k : s.allKeys())
        values[k] = s.value(k);
    return values;
}

// Files that only a hand or another program makes: the edited keys read as
// asked, every other key as before, and the new lines never join an old one.
TEST(SettingsFileEdits, OddFilesChangeOnlyTheEditedKeys)
{
    struct Case {
        QByteArray text;
        std::vector<std::pair<QString, std::optional<QString>>> edits;
    };
    const std::vector<Case> cases = {
        {"a=1\rk=\"open\rx=2", {{"n", "new"}}},                        // a quote open to the end
        {"a=1\nk=tail\\\n", {{"n", "new"}, {"a", std::nullopt}}},        // an escaped last line break
        {"\xef\xbb\xbfk1=v\n k2=w\n", {{"k1", std::nullopt}}},           // the next line must not take the mark
        {"; c\r  k1=a, b\r[Other]\rk1=o\r", {{"k1", std::nullopt}}},     // blanks after a comment
        {"[Other]\nx=1\n", {{"k", "v, w"}}},                             // no top-level section yet
        {"k=1\nj = 2 ; c\nk=2\n", {{"k", "3"}, {"j", std::nullopt}}},    // a repeated key, a comment after a value
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const QString path = configHome().path() + QStringLiteral("/odd%1.ini").arg(i);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(cases[i].text);
        f.close();
        QMap<QString, QVariant> expected = iniValues(path);
        GuiSettingsFile file(path);
        for (const auto& [key, value] : cases[i].edits) {
            file.setStored(key, value ? std::optional(GuiSettingsFile::encode(*value)) : std::nullopt);
            if (value)
                expected[key] = *value;
            else
                expected.remove(key);
        }
        ASSERT_TRUE(file.write()) << i;
        EXPECT_EQ(iniValues(path), expected) << i;
        QFile::remove(path);
    }
}

// What the book reads from the file's text itself (the count, a value that
// moves to another row) reads as QSettings reads it.
TEST(SettingsFileEdits, DecodedTextsReadAsQSettingsReadsThem)
{
    const std::vector<QByteArray> texts = {
        "plain", "  padded  ", "\"quoted, with comma\"", "a, b,c", "x ,  y ,", "a\\tb", "\"x\\\"y\"",
        "\\x41\\x42C", "\\101", "\\xg", "a\\ b", "\"  keep  \" ", "caf\xc3\xa9", "@@at", "@Rect(1 2 3 4)",
        "@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\aQRect\\0)", "@other", " 3 ", "\"3\"", "", "\"open to the end"};
    const QString path = configHome().path() + QStringLiteral("/decode.ini");
    QByteArray ini;
    for (size_t i = 0; i < texts.size(); ++i)
        ini += "k" + QByteArray::number(qsizetype(i)) + '=' + texts[i] + (i + 1 < texts.size() ? "\n" : "");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(ini);
    f.close();
    QSettings settings(path, QSettings::IniFormat);
    for (size_t i = 0; i < texts.size(); ++i) {
        const QVariant v = settings.value(QStringLiteral("k%1").arg(i));
        const std::optional<QString> decoded = GuiSettingsFile::decode(texts[i]);
        if (v.metaType().id() == QMetaType::QStringList)
            EXPECT_EQ(decoded, v.toStringList().join(QStringLiteral(", "))) << texts[i].toStdString();
        else if (v.metaType().id() == QMetaType::QString)
            EXPECT_EQ(decoded, v.toString()) << texts[i].toStdString();
        else
            EXPECT_EQ(decoded, std::nullopt) << texts[i].toStdString();
    }
    QFile::remove(path);
}

}  // namespace
