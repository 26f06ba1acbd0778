#include <gtest/gtest.h>

#include "GuiTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "app/SiteBook.h"
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
