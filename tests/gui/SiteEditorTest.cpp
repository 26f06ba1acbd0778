#include <gtest/gtest.h>

#include "GuiTestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <csignal>
#include <sys/resource.h>

#include "app/AppController.h"
#include "app/IControlBarTarget.h"
#include "app/IPSetViewController.h"
#include "app/TitleBar.h"
#include "app/VESKCtrlViewController.h"
#include "app/dvrList.h"
#include "platform/Log.h"

namespace {

using guitest::configHome;

using guitest::ensureApp;

void clearSettings()
{
    QSettings s(QStringLiteral("vesk"), QStringLiteral("vesk"));
    s.clear();
    s.sync();
}

QVariant stored(const QString& name)
{
    return QSettings(QStringLiteral("vesk"), QStringLiteral("vesk")).value(name);
}

// What assistive technology reads as a control's name.
QString accessibleName(QWidget* w)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(QAccessible::Name) : QString();
}

QAbstractButton* buttonNamed(QWidget* root, const QString& name)
{
    for (auto* b : root->findChildren<QAbstractButton*>()) {
        if (accessibleName(b) == name)
            return b;
    }
    return nullptr;
}

// The editor wired to a real window and controller, with alerts recorded.
class SiteEditorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(configHome().isValid());
        ensureApp();
        clearSettings();
        window = std::make_unique<TitleBar>();
        ctrl = std::make_unique<AppController>(window.get());
        editor = std::make_unique<IPSetViewController>();
        editor->setMainCtrlPointer(ctrl.get());
        ctrl->setSiteEditorView(editor->view());
        IPSetViewController* e = editor.get();
        ctrl->onSiteSelected = [e](std::shared_ptr<dvrList> r) { e->setDVRInfo(*r); };
        ctrl->showAlert = [this](const QString& title, const QString& text) { alerts.emplace_back(title, text); };
        ctrl->quitApplication = [] {};
        ctrl->ReadInfo();
        ctrl->ShowIpsetView();
    }
    void TearDown() override
    {
        editor.reset();
        ctrl.reset();
        window.reset();
        clearSettings();
    }

    QLineEdit* field(const char* name) const { return editor->view()->findChild<QLineEdit*>(name); }
    QComboBox* modelBox() const { return editor->view()->findChild<QComboBox*>("model"); }
    QCheckBox* ddnsUseBox() const { return editor->view()->findChild<QCheckBox*>("ddnsUse"); }
    void press(const char* text) const
    {
        QAbstractButton* b = buttonNamed(editor->view(), text);
        ASSERT_NE(b, nullptr) << text;
        b->click();
    }
    // Types as a user does: every key is an edit.
    void typeInto(const char* name, const QString& text) const
    {
        QLineEdit* f = field(name);
        f->selectAll();
        QTest::keyClick(f, Qt::Key_Backspace);
        QTest::keyClicks(f, text);
    }
    void addSite(const QString& name)
    {
        field("regName")->setText(name);
        field("dvrIp")->setText(name + QStringLiteral(".example.net"));
        press("Add");
    }
    SiteBook& book() { return ctrl->siteBook(); }
    int selectedRow() const { return ctrl->selectedRow(); }

    std::unique_ptr<TitleBar> window;
    std::unique_ptr<AppController> ctrl;
    std::unique_ptr<IPSetViewController> editor;
    std::vector<std::pair<QString, QString>> alerts;
};

TEST_F(SiteEditorTest, StartsOnDvrWithDefaultsAndEveryControlIsNamed)
{
    EXPECT_EQ(modelBox()->count(), 2);
    EXPECT_EQ(modelBox()->itemText(0), QStringLiteral("MJPEG"));
    EXPECT_EQ(modelBox()->currentText(), QStringLiteral("DVR"));
    EXPECT_TRUE(modelBox()->isEnabled());
    EXPECT_FALSE(ddnsUseBox()->isChecked());
    EXPECT_EQ(field("ddnsIp")->text(), QString::fromLatin1(IPSetViewController::kDefaultDDNSAddress));
    EXPECT_EQ(field("dvrPort")->text(), QStringLiteral("3000"));
    EXPECT_EQ(editor->view()->parentWidget(), static_cast<QWidget*>(window->boxSubMenu()));

    for (QWidget* w : editor->view()->findChildren<QWidget*>()) {
        if (qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w)) {
            EXPECT_FALSE(accessibleName(w).isEmpty()) << w->objectName().toStdString();
        }
    }
    for (const char* text : {"Add", "Update", "Delete"})
        EXPECT_NE(buttonNamed(editor->view(), text), nullptr) << text;
}

TEST_F(SiteEditorTest, UserChoosesTheSiteModel)
{
    QTest::keyClick(modelBox(), Qt::Key_Up);
    EXPECT_EQ(modelBox()->currentText(), QStringLiteral("MJPEG"));
    typeInto("regName", QStringLiteral("Keypad device"));
    press("Add");
    ASSERT_EQ(book().count(), 1);
    EXPECT_EQ(book().record(0)->modelNum(), 1);
    QTest::keyClick(modelBox(), Qt::Key_Down);
    typeInto("regName", QStringLiteral("Recorder"));
    press("Add");
    ASSERT_EQ(book().count(), 2);
    EXPECT_EQ(book().record(1)->modelNum(), 2);
}

TEST_F(SiteEditorTest, AddWithoutNameWarnsAndStoresNothing)
{
    field("dvrIp")->setText(QStringLiteral("192.0.2.5"));
    press("Add");
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].first, QStringLiteral("Warning"));
    EXPECT_EQ(alerts[0].second, QStringLiteral("Input RegName"));
    EXPECT_EQ(book().count(), 0);
    EXPECT_EQ(window->tableView()->rowCount(), 0);
    EXPECT_FALSE(stored("dvrCount").isValid());
}

// A port the link cannot use is refused on Add and Update, not wrapped.
TEST_F(SiteEditorTest, PortOutsideTheRangeIsRefused)
{
    field("regName")->setText(QStringLiteral("Far"));
    for (const char* port : {"104185", "0", "-1"}) {
        field("dvrPort")->setText(QString::fromLatin1(port));
        press("Add");
        EXPECT_EQ(book().count(), 0) << port;
    }
    field("dvrPort")->setText(QStringLiteral("3000"));
    field("ddnsPort")->setText(QStringLiteral("70000"));
    press("Add");
    EXPECT_EQ(book().count(), 0);
    ASSERT_EQ(alerts.size(), 4u);
    EXPECT_EQ(alerts[0], std::make_pair(QStringLiteral("Warning"), QStringLiteral("Input Port (1 - 65535)")));

    field("ddnsPort")->setText(QStringLiteral("2000"));
    press("Add");
    ASSERT_EQ(book().count(), 1);
    window->tableView()->selectRow(0);
    field("dvrPort")->setText(QStringLiteral("65536"));
    press("Update");
    EXPECT_EQ(book().record(0)->dvrport(), 3000);
    EXPECT_EQ(alerts.size(), 5u);
}

TEST_F(SiteEditorTest, DdnsIdFirstCharacterChoosesServerAndPort)
{
    const QString address = QString::fromLatin1(IPSetViewController::kDefaultDDNSAddress);
    const QString host = QString::fromLatin1(IPSetViewController::kDefaultDDNSHost);
    const struct {
        const char* typed;
        QString server;
        const char* port;
    } cases[] = {
        {"h1234", address, "2400"}, {"H1234", address, "2400"}, {"d9", address, "2500"},
        {"L9", address, "2600"},    {"g9", address, "2000"},    {"0123", address, "3000"},
        {"a55", host, "17000"},     {"F55", host, "17000"},     {"s55", host, "17000"},
    };
    for (const auto& c : cases) {
        field("ddnsIp")->setText(QStringLiteral("before"));
        typeInto("ddnsId", QString::fromLatin1(c.typed));
        EXPECT_EQ(field("ddnsIp")->text(), c.server) << c.typed;
        EXPECT_EQ(field("ddnsPort")->text(), QString::fromLatin1(c.port)) << c.typed;
    }

    field("ddnsIp")->setText(QStringLiteral("kept.example"));
    typeInto("ddnsId", QStringLiteral("x1"));
    EXPECT_EQ(field("ddnsIp")->text(), QStringLiteral("kept.example"));
    EXPECT_TRUE(field("ddnsPort")->text().isEmpty());

    typeInto("ddnsId", QStringLiteral("h"));
    ASSERT_EQ(field("ddnsPort")->text(), QStringLiteral("2400"));
    typeInto("ddnsId", QString());
    EXPECT_TRUE(field("ddnsId")->text().isEmpty());
    EXPECT_TRUE(field("ddnsPort")->text().isEmpty());

    // Showing a site does not apply the rule.
    dvrList shown;
    shown.setModelNum(2);
    shown.setNsStrDDNSID(QStringLiteral("a77"));
    shown.setNsStrDDNSIP(QStringLiteral("203.0.113.9"));
    shown.setDdnsPort(2000);
    editor->setDVRInfo(shown);
    EXPECT_EQ(field("ddnsIp")->text(), QStringLiteral("203.0.113.9"));
    EXPECT_EQ(field("ddnsPort")->text(), QStringLiteral("2000"));
}

TEST_F(SiteEditorTest, AddStoresTheFieldsThroughTheController)
{
    addSite(QStringLiteral("First"));
    typeInto("regName", QStringLiteral("Warehouse"));
    typeInto("dvrId", QStringLiteral("admin"));
    typeInto("dvrPassword", QStringLiteral("secret"));
    typeInto("dvrIp", QStringLiteral("192.0.2.7"));
    typeInto("dvrPort", QStringLiteral("3100x"));
    ddnsUseBox()->click();
    typeInto("ddnsId", QStringLiteral("d4711"));
    press("Add");

    EXPECT_TRUE(alerts.empty());
    ASSERT_EQ(book().count(), 2);
    EXPECT_EQ(window->tableView()->item(1, 0)->text(), QStringLiteral("Warehouse"));
    const auto r = book().record(1);
    EXPECT_EQ(r->nsStrRegName(), QStringLiteral("Warehouse"));
    EXPECT_EQ(r->modelNum(), 2);
    EXPECT_EQ(r->nsStrDVRID(), QStringLiteral("admin"));
    EXPECT_EQ(r->nsStrDVRPwd(), QStringLiteral("secret"));
    EXPECT_EQ(r->nsStrDVRIP(), QStringLiteral("192.0.2.7"));
    EXPECT_EQ(r->dvrport(), 3100);
    EXPECT_EQ(r->bDDNSUSe(), 1);
    EXPECT_EQ(r->nsStrDDNSID(), QStringLiteral("d4711"));
    EXPECT_EQ(r->nsStrDDNSIP(), QString::fromLatin1(IPSetViewController::kDefaultDDNSAddress));
    EXPECT_EQ(r->ddnsPort(), 2500);
    EXPECT_EQ(stored("dvrCount").toInt(), 2);
    EXPECT_EQ(stored("regname_1").toString(), QStringLiteral("Warehouse"));
    EXPECT_EQ(stored("ddnsport_1").toInt(), 2500);

    // An empty DDNS server is stored as the default; a port without digits as 0.
    field("regName")->setText(QStringLiteral("Third"));
    field("ddnsIp")->clear();
    field("ddnsPort")->setText(QStringLiteral("abc"));
    press("Add");
    ASSERT_EQ(book().count(), 3);
    EXPECT_EQ(book().record(2)->nsStrDDNSIP(), QString::fromLatin1(IPSetViewController::kDefaultDDNSAddress));
    EXPECT_EQ(book().record(2)->ddnsPort(), 0);
}

TEST_F(SiteEditorTest, ShownSiteFillsFieldsAndItsModelGoesToTheNextAdd)
{
    dvrList s;
    s.setNsStrRegName(QStringLiteral("Door"));
    s.setModelNum(1);
    s.setNsStrDVRID(QStringLiteral("user"));
    s.setNsStrDVRPwd(QStringLiteral("pw"));
    s.setNsStrDVRIP(QStringLiteral("door.example.net"));
    s.setDvrport(8000);
    s.setBDDNSUSe(1);
    s.setNsStrDDNSID(QStringLiteral("web123"));
    s.setNsStrDDNSIP(QStringLiteral("198.51.100.1"));
    s.setDdnsPort(0);
    editor->setDVRInfo(s);

    EXPECT_EQ(field("regName")->text(), QStringLiteral("Door"));
    EXPECT_EQ(field("dvrId")->text(), QStringLiteral("user"));
    EXPECT_EQ(field("dvrPassword")->text(), QStringLiteral("pw"));
    EXPECT_EQ(field("dvrPassword")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(field("dvrPort")->text(), QStringLiteral("8000"));
    EXPECT_EQ(modelBox()->currentText(), QStringLiteral("MJPEG"));
    EXPECT_TRUE(ddnsUseBox()->isChecked());
    EXPECT_EQ(field("ddnsId")->text(), QStringLiteral("web123"));
    EXPECT_TRUE(field("ddnsPort")->text().isEmpty());

    field("regName")->setText(QStringLiteral("Door 2"));
    press("Add");
    ASSERT_EQ(book().count(), 1);
    EXPECT_EQ(book().record(0)->modelNum(), 1);
    EXPECT_EQ(stored("dvrmodel_0").toInt(), 1);
    EXPECT_EQ(selectedRow(), -1);  // adding does not select the new row
}

TEST_F(SiteEditorTest, UpdateRewritesTheSelectedRowAndKeepsItsModelGroup)
{
    addSite(QStringLiteral("A"));
    addSite(QStringLiteral("B"));
    field("regName")->setText(QStringLiteral("ignored"));
    press("Update");  // no row selected
    EXPECT_EQ(book().record(0)->nsStrRegName(), QStringLiteral("A"));
    EXPECT_EQ(book().record(1)->nsStrRegName(), QStringLiteral("B"));

    window->tableView()->selectRow(1);
    ASSERT_EQ(field("regName")->text(), QStringLiteral("B"));
    const auto row1 = book().record(1);
    row1->setModelGroup(9);
    field("regName")->setText(QStringLiteral("B renamed"));
    field("ddnsIp")->clear();
    press("Update");

    EXPECT_EQ(book().record(1), row1);
    EXPECT_EQ(row1->nsStrRegName(), QStringLiteral("B renamed"));
    EXPECT_EQ(row1->modelGroup(), 9);
    EXPECT_TRUE(row1->nsStrDDNSIP().isEmpty());  // no default on update
    EXPECT_EQ(window->tableView()->item(1, 0)->text(), QStringLiteral("B renamed"));
    EXPECT_EQ(stored("regname_1").toString(), QStringLiteral("B renamed"));
    EXPECT_EQ(book().count(), 2);
    EXPECT_TRUE(alerts.empty());
}

TEST_F(SiteEditorTest, DeleteRemovesTheSelectedRowAndShowsTheRowAbove)
{
    for (const char* n : {"A", "B", "C", "D"})
        addSite(QString::fromLatin1(n));
    window->tableView()->selectRow(2);
    press("Delete");
    ASSERT_EQ(book().count(), 3);
    EXPECT_EQ(book().record(2)->nsStrRegName(), QStringLiteral("D"));
    EXPECT_EQ(selectedRow(), 1);
    EXPECT_EQ(field("regName")->text(), QStringLiteral("B"));
    EXPECT_EQ(stored("dvrCount").toInt(), 3);

    window->tableView()->selectRow(0);
    press("Delete");
    EXPECT_EQ(book().count(), 2);
    EXPECT_EQ(selectedRow(), -1);
    press("Delete");  // nothing selected
    EXPECT_EQ(book().count(), 2);
}

TEST_F(SiteEditorTest, ModelOutsideOneAndTwoIsNeverStored)
{
    addSite(QStringLiteral("A"));
    window->tableView()->selectRow(0);
    for (int bad : {0, 3, -1}) {
        dvrList s;
        s.setNsStrRegName(QStringLiteral("Odd"));
        s.setModelNum(bad);
        s.setDvrport(2000);
        editor->setDVRInfo(s);
        EXPECT_EQ(modelBox()->currentText(), QStringLiteral("DVR")) << bad;
        press("Update");
        EXPECT_EQ(book().record(0)->modelNum(), 2) << bad;
    }
    press("Add");
    ASSERT_EQ(book().count(), 2);
    EXPECT_EQ(book().record(1)->modelNum(), 2);
    EXPECT_EQ(stored("dvrmodel_0").toInt(), 2);
    EXPECT_EQ(stored("dvrmodel_1").toInt(), 2);

    // A book whose stored model is unknown shows and saves "DVR".
    QSettings(QStringLiteral("vesk"), QStringLiteral("vesk")).setValue(QStringLiteral("dvrmodel_1"), 7);
    ctrl->ReadInfo();
    window->tableView()->clearSelection();
    window->tableView()->selectRow(1);
    EXPECT_EQ(modelBox()->currentText(), QStringLiteral("DVR"));
    press("Update");
    EXPECT_EQ(stored("dvrmodel_1").toInt(), 2);
}

// One running client as main() makes it: its window, its controller and
// its own site editor, with alerts kept and quitting only noted.
struct Client {
    Client()
    {
        ctrl = std::make_unique<AppController>(window.get());
        ctrl->quitApplication = [this] { quit = true; };
        ctrl->showAlert = [this](const QString& title, const QString& text) { alerts.emplace_back(title, text); };
        ctrl->awakeFromNib();
        window->show();
    }
    QLineEdit* field(const char* name) const { return window->boxSubMenu()->findChild<QLineEdit*>(name); }
    void press(const char* text) const
    {
        QAbstractButton* b = buttonNamed(window.get(), text);
        ASSERT_NE(b, nullptr) << text;
        b->click();
    }
    void rename(int row, const QString& name) const
    {
        window->tableView()->selectRow(row);
        field("regName")->setText(name);
        press("Update");
    }
    void add(const QString& name) const
    {
        field("regName")->setText(name);
        field("dvrIp")->setText(name + QStringLiteral(".example.net"));
        press("Add");
    }
    std::vector<QString> rows() const
    {
        std::vector<QString> out;
        for (int i = 0; i < window->tableView()->rowCount(); ++i)
            out.push_back(window->tableView()->item(i, 0)->text());
        return out;
    }

    std::unique_ptr<TitleBar> window = std::make_unique<TitleBar>();
    std::unique_ptr<AppController> ctrl;
    std::vector<std::pair<QString, QString>> alerts;
    bool quit = false;
};

QString bookFile()
{
    return QSettings(QStringLiteral("vesk"), QStringLiteral("vesk")).fileName();
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The names of the sites the file holds, as a client starting now reads them.
std::vector<QString> storedNames()
{
    SiteBook book;
    book.ReadInfo();
    std::vector<QString> out;
    for (int i = 0; i < book.count(); ++i)
        out.push_back(book.record(i)->nsStrRegName());
    return out;
}

// Several clients open on one site book, as two windows of the application.
class SharedBookTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(configHome().isValid());
        ensureApp();
        clearSettings();
        Client first;
        first.add(QStringLiteral("North"));
        first.add(QStringLiteral("South"));
        first.press("Exit");
        ASSERT_EQ(storedNames(), (std::vector<QString>{"North", "South"}));
    }
    void TearDown() override { clearSettings(); }
};

TEST_F(SharedBookTest, EachClientStoresOnlyItsOwnChangesWhateverOrderTheyExitIn)
{
    for (bool renamerExitsFirst : {true, false}) {
        SetUp();
        auto renamer = std::make_unique<Client>();
        auto adder = std::make_unique<Client>();
        renamer->rename(0, QStringLiteral("North gate"));
        adder->add(QStringLiteral("East"));
        EXPECT_EQ(storedNames(), (std::vector<QString>{"North gate", "South", "East"}));
        // Each shows its own view of the book.
        EXPECT_EQ(renamer->rows(), (std::vector<QString>{"North gate", "South"}));
        EXPECT_EQ(adder->rows(), (std::vector<QString>{"North", "South", "East"}));

        auto& firstOut = renamerExitsFirst ? renamer : adder;
        auto& lastOut = renamerExitsFirst ? adder : renamer;
        firstOut->press("Exit");
        firstOut.reset();
        // A client started now adds after both and its exit undoes nothing.
        Client late;
        late.add(QStringLiteral("West"));
        lastOut->press("Exit");
        EXPECT_TRUE(lastOut->quit);
        lastOut.reset();
        late.press("Exit");
        EXPECT_EQ(storedNames(), (std::vector<QString>{"North gate", "South", "East", "West"})) << renamerExitsFirst;
    }
}

TEST_F(SharedBookTest, ExitWithoutEditsLeavesTheFileAsAnotherClientLeftIt)
{
    Client idle;
    {
        Client other;
        other.rename(1, QStringLiteral("South yard"));
        other.add(QStringLiteral("East"));
        other.press("Exit");
    }
    const QByteArray bytes = fileBytes(bookFile());
    const QDateTime time = QFileInfo(bookFile()).lastModified();
    idle.press("Exit");
    EXPECT_TRUE(idle.quit);
    EXPECT_EQ(fileBytes(bookFile()).toStdString(), bytes.toStdString());
    EXPECT_EQ(QFileInfo(bookFile()).lastModified(), time);
    EXPECT_EQ(storedNames(), (std::vector<QString>{"North", "South yard", "East"}));
    EXPECT_TRUE(idle.alerts.empty());
}

// File writes fail past this size for the whole process (also for root);
// the signal that would end the process is ignored meanwhile.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldSignal = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldSignal);
    }

private:
    rlimit m_old{};
    void (*m_oldSignal)(int) = SIG_DFL;
};

TEST_F(SharedBookTest, FailedWriteSaysWhyKeepsTheEditAndTheFileAndIsStoredAtExit)
{
    std::vector<std::string> logged;
    const LogSink oldSink = setLogSink([&](const std::string& line) { logged.push_back(line); });
    const QString path = bookFile();
    const QByteArray before = fileBytes(path);
    Client client;
    {
        const FileSizeLimit full(rlim_t(before.size()));
        client.rename(0, QStringLiteral("North gate, renamed"));
    }
    ASSERT_EQ(client.alerts.size(), 1u);
    EXPECT_EQ(client.alerts[0].first, QStringLiteral("Site book not saved"));
    EXPECT_TRUE(client.alerts[0].second.contains(path)) << client.alerts[0].second.toStdString();
    EXPECT_TRUE(client.alerts[0].second.contains(QStringLiteral("File too large")));
    const std::string failure = "settings file could not be written: " + path.toStdString() + ": File too large";
    EXPECT_NE(std::find(logged.begin(), logged.end(), failure), logged.end());
    // The edit stays on screen and in memory; the file keeps every byte.
    EXPECT_EQ(client.field("regName")->text(), QStringLiteral("North gate, renamed"));
    EXPECT_EQ(client.rows(), (std::vector<QString>{"North gate, renamed", "South"}));
    EXPECT_EQ(fileBytes(path).toStdString(), before.toStdString());
    EXPECT_EQ(QDir(QFileInfo(path).path()).entryList(QDir::Files), QStringList{QFileInfo(path).fileName()});

    // Where the file was, a folder: the reason says so, and it fails the
    // same way for root.
    const QString aside = path + QStringLiteral(".aside");
    ASSERT_TRUE(QFile::rename(path, aside));
    ASSERT_TRUE(QDir().mkdir(path));
    client.add(QStringLiteral("East"));
    ASSERT_EQ(client.alerts.size(), 2u);
    EXPECT_TRUE(client.alerts[1].second.contains(path));
    EXPECT_TRUE(client.alerts[1].second.contains(QStringLiteral("Is a directory")));
    EXPECT_EQ(client.rows(), (std::vector<QString>{"North gate, renamed", "South", "East"}));
    ASSERT_TRUE(QDir().rmdir(path));
    ASSERT_TRUE(QFile::rename(aside, path));
    setLogSink(oldSink);

    client.press("Exit");
    EXPECT_EQ(client.alerts.size(), 2u);
    EXPECT_EQ(storedNames(), (std::vector<QString>{"North gate, renamed", "South", "East"}));
}

std::chrono::steady_clock::time_point frozenClock()
{
    return std::chrono::steady_clock::time_point(std::chrono::hours(2));
}

TEST_F(SharedBookTest, ExitPrintsTheSummaryOfRepeatsStillOwed)
{
    Client client;
    std::vector<std::string> logged;
    const LogSink oldSink = setLogSink([&](const std::string& line) { logged.push_back(line); });
    const LogClock oldClock = setLogClock(frozenClock);
    for (int i = 0; i < 15; ++i)
        vlog("%s", "frame dropped");
    client.press("Exit");
    setLogClock(oldClock);
    setLogSink(oldSink);
    EXPECT_NE(std::find(logged.begin(), logged.end(), "last message repeated 5 more times: frame dropped"),
              logged.end());
}

// For the leak check only (tests/lsan-exit-check.sh): a block of ours that
// nothing frees, which the checker must report.
dvrList* volatile g_planted = nullptr;

[[gnu::noinline]] void plantLeak()
{
    g_planted = new dvrList;
    g_planted = nullptr;
}

TEST(LeakCheck, PlantedBlockIsReported)
{
    if (!qEnvironmentVariableIsSet("VESK_PLANT_LEAK"))
        GTEST_SKIP() << "planted only for the leak check";
    plantLeak();
}

// Records what the control bar asks of its controller.
class RecordingTarget : public IControlBarTarget {
public:
    void ShowDisplayView() override { calls.push_back("ShowDisplayView"); }
    void Capture() override { calls.push_back("Capture"); }
    void OpenFolder() override { calls.push_back("OpenFolder"); }
    void ShowSearchView() override { calls.push_back("ShowSearchView"); }
    void ShowPTZView() override { calls.push_back("ShowPTZView"); }
    void ShowAudioView() override { calls.push_back("ShowAudioView"); }
    std::vector<std::string> calls;
};

class SiteEditorControlBarTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensureApp();
        bar = std::make_unique<VESKCtrlViewController>();
        bar->SetMainController(&target);
    }
    QAbstractButton* button(const char* objectName) const
    {
        return bar->view()->findChild<QAbstractButton*>(objectName);
    }
    std::vector<bool> connectionButtonsEnabled() const
    {
        std::vector<bool> out;
        for (const char* n : {"_Display", "_Capture", "_Search", "_Ptz", "_Audio"})
            out.push_back(button(n)->isEnabled());
        return out;
    }

    RecordingTarget target;
    std::unique_ptr<VESKCtrlViewController> bar;
};

TEST_F(SiteEditorControlBarTest, ButtonsAreNamedAndEachSendsItsRequest)
{
    const std::pair<const char*, const char*> expected[] = {
        {"_Display", "Display"}, {"_Capture", "Capture"}, {"_Folder", "Folder"},
        {"_Search", "Search"},   {"_Ptz", "PTZ"},         {"_Audio", "Audio"},
    };
    for (const auto& [objectName, text] : expected) {
        ASSERT_NE(button(objectName), nullptr) << objectName;
        EXPECT_EQ(button(objectName)->text(), QString::fromLatin1(text));
        EXPECT_EQ(buttonNamed(bar->view(), text), button(objectName)) << text;
    }
    bar->SetButtonStatus(1);
    for (const char* text : {"Display", "Capture", "Folder", "Search", "PTZ", "Audio"})
        buttonNamed(bar->view(), text)->click();
    EXPECT_EQ(target.calls, (std::vector<std::string>{"ShowDisplayView", "Capture", "OpenFolder", "ShowSearchView",
                                                      "ShowPTZView", "ShowAudioView"}));
}

TEST_F(SiteEditorControlBarTest, ButtonStatusSwitchesTheFiveConnectionButtonsOnly)
{
    const std::vector<bool> none(5, false), all(5, true);
    EXPECT_EQ(connectionButtonsEnabled(), none);
    EXPECT_TRUE(button("_Folder")->isEnabled());
    button("_Display")->click();
    EXPECT_TRUE(target.calls.empty());

    bar->SetButtonStatus(2);
    EXPECT_EQ(connectionButtonsEnabled(), all);
    bar->SetButtonStatus(0);
    EXPECT_EQ(connectionButtonsEnabled(), none);
    EXPECT_TRUE(button("_Folder")->isEnabled());

    button("_Folder")->setEnabled(false);
    bar->SetButtonStatus(1);
    EXPECT_EQ(connectionButtonsEnabled(), all);
    EXPECT_FALSE(button("_Folder")->isEnabled());
}

TEST_F(SiteEditorControlBarTest, StatusFromAnotherThreadIsAppliedInOrderOnTheGuiThread)
{
    std::thread worker([this] {
        bar->SetButtonStatus(1);
        bar->SetButtonStatus(0);
        bar->SetButtonStatus(1);
    });
    worker.join();
    EXPECT_EQ(connectionButtonsEnabled(), std::vector<bool>(5, false));  // nothing touched off the GUI thread
    QCoreApplication::processEvents();
    EXPECT_EQ(connectionButtonsEnabled(), std::vector<bool>(5, true));
}

}  // namespace
