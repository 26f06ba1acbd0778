// Zooming a channel with a click on the view, and snapshots of the view.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "output/IViewController.h"
#include "output/MyOpenGLView.h"
#include "output/ViewLayout.h"

namespace {

TEST(ZoomClick, CellUnderTheClick)
{
    // (channel count, x, distance from the top) -> cell, in a 400 x 300 view.
    struct Case {
        int maxCh;
        double x, d;
        int cell;
    };
    const Case cases[] = {
        {4, 10, 10, 1},     {4, 10, 290, 3},     {4, 390, 290, 4},    {4, 199.9, 149.9, 1},
        {4, 200, 150, 4},   // on the borders: the next column and row
        {9, 200, 150, 5},   {9, 133.3, 99.9, 1}, {9, 133.4, 100, 5},  {8, 390, 290, 9},
        {16, 250, 10, 3},   {16, 399, 299, 16},  {16, 100, 75, 6},    {16, 99.9, 74.9, 1},
        {16, 0, 225, 13},   {1, 200, 150, 0},    {2, 10, 10, 0},      {6, 10, 10, 0},
        {17, 10, 10, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ViewLayout::clickedCell(c.maxCh, 400, 300, c.x, c.d), c.cell)
            << c.maxCh << " channels at " << c.x << "," << c.d;
}

struct CallLog : IViewController {
    std::vector<std::string> calls;
    void DisplayConnectStr(const std::string&, int, const std::string&, int) override {}
    void SetButtonStatus(int) override {}
    void RequestAudio(int8_t ch) override { calls.push_back("audio " + std::to_string(ch)); }
    void RequestLiveCh(int32_t ch) override { calls.push_back("live " + std::to_string(ch)); }
};

alignas(16) char g_link[16];

QRgb cellColour(int ch)
{
    return QColor::fromHsv(ch * 360 / 16, 255, 220).rgb();
}

bool near(QRgb a, QRgb b, int tol)
{
    return std::abs(qRed(a) - qRed(b)) <= tol && std::abs(qGreen(a) - qGreen(b)) <= tol &&
           std::abs(qBlue(a) - qBlue(b)) <= tol;
}

class ViewActions : public ::testing::Test {
protected:
    void SetUp() override
    {
        guitest::ensureApp();
        view = std::make_unique<MyOpenGLView>();
        view->resize(400, 300);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        view->SetMainPointer(&log);
        view->showAlert = [this](const QString& t, const QString& m) { alerts << t + "|" + m; };
    }
    void stream(int maxCh)
    {
        view->SetNetPointer(reinterpret_cast<CoNetwork*>(g_link));
        view->setMaxCH(maxCh);
        view->SetRecOnOff(0xFFFF);
        view->setNetStatus(18, "");
        RingBuffer* q = view->getRingBuffer();
        for (int ch = 0; ch < maxCh; ++ch) {
            tag_FrameV_Orgin* f = q->tryGetWriteBuffer();
            ASSERT_NE(f, nullptr);
            f->ch = int8_t(ch);
            f->w = 32;
            f->h = 24;
            f->time = 0;
            f->now_type = 0;
            f->evt_rec = f->evt_md = f->evt_ss = 0;
            const QRgb c = cellColour(ch);
            const uint8_t px[4] = {uint8_t(qBlue(c)), uint8_t(qGreen(c)), uint8_t(qRed(c)), 255};
            for (int i = 0; i < f->w * f->h; ++i)
                std::memcpy(f->outbuff + 4 * i, px, 4);
            q->putWriteBuffer();
            view->drainFrames();
        }
    }
    void click(int x, int y, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseClick(view.get(), button, Qt::NoModifier, QPoint(x, y));
    }

    CallLog log;
    QStringList alerts;
    std::unique_ptr<MyOpenGLView> view;
};

TEST_F(ViewActions, ClickZoomsACellAndTheNextReturns)
{
    stream(4);
    click(20, 280);  // lower-left quarter
    EXPECT_EQ(view->getMouseClickCh(), 3);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"audio 3", "live 3"}));
    QImage img = view->grabFramebuffer();
    EXPECT_TRUE(near(img.pixel(200, 150), cellColour(2), 8));  // channel 3 over the whole view

    log.calls.clear();
    click(390, 10);  // anywhere on the zoomed view
    EXPECT_EQ(view->getMouseClickCh(), 0);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"audio 0", "live 0"}));

    log.calls.clear();
    click(390, 290);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"audio 4", "live 4"}));
    click(5, 5, Qt::RightButton);  // other buttons do nothing
    EXPECT_EQ(log.calls.size(), 2u);
    EXPECT_EQ(view->accessibleName(), "Video");
}

TEST_F(ViewActions, CellsBeyondTheFourthTurnAudioOff)
{
    stream(16);
    click(390, 290);
    EXPECT_EQ(view->getMouseClickCh(), 16);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"audio 0", "live 16"}));
    click(1, 1);
    log.calls.clear();
    click(250, 10);  // top row, third column
    EXPECT_EQ(log.calls, (std::vector<std::string>{"audio 3", "live 3"}));
}

TEST_F(ViewActions, ClicksWithoutASplitLayoutOrStreamZoomNothing)
{
    click(200, 150);  // not streaming
    EXPECT_TRUE(log.calls.empty());
    stream(1);
    click(200, 150);
    EXPECT_EQ(view->getMouseClickCh(), 0);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"audio 0", "live 0"}));
}

TEST_F(ViewActions, SecondDevicePointerPosition)
{
    view->setNetMouseInfo(7, 2, -3, 480);
    EXPECT_EQ(view->WndPos2DVRPos(QPointF(200.7, 150.2), QSizeF(400, 300)), QPointF(324, 276));
    EXPECT_EQ(view->WndPos2DVRPos(QPointF(1, 1), QSizeF(0, 300)), QPointF(324, 276));  // no size: unchanged
}

TEST_F(ViewActions, SnapshotIsNamedByTheClockAndShowsTheView)
{
    stream(4);
    QTemporaryDir home;
    const QString folder = home.path() + "/capture/new";  // made when missing
    view->snapshotClock = [] { return QDateTime(QDate(2026, 12, 7), QTime(21, 5, 9)); };
    view->imageFromOpenGLView(folder);
    const QString path = folder + "/20261207_210509.jpg";
    ASSERT_EQ(alerts, QStringList{"Done!!|" + path});

    QImage img(path, "JPEG");
    ASSERT_FALSE(img.isNull());
    const qreal dpr = view->devicePixelRatioF();
    EXPECT_EQ(img.size(), QSize(int(400 * dpr), int(300 * dpr)));
    for (int ch = 0; ch < 4; ++ch) {
        QPoint centre((ch % 2) * img.width() / 2 + img.width() / 4, (ch / 2) * img.height() / 2 + img.height() / 4);
        EXPECT_TRUE(near(img.pixel(centre), cellColour(ch), 12)) << "channel " << ch;
    }

    // A second snapshot in the same second keeps the first.
    const QByteArray first = [&] {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    view->setM_MouseClickCh(2);
    view->imageFromOpenGLView(folder);
    ASSERT_EQ(alerts.size(), 2);
    EXPECT_EQ(alerts[1], "Done!!|" + folder + "/20261207_210509_1.jpg");
    QFile again(path);
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), first);
    EXPECT_EQ(MyOpenGLView::snapshotPath(folder, QDateTime(QDate(2026, 12, 7), QTime(21, 5, 9))),
              folder + "/20261207_210509_2.jpg");
}

TEST_F(ViewActions, FailedSnapshotSaysSoAndNamesThePath)
{
    QTemporaryDir home;
    QFile blocker(home.path() + "/file");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    view->snapshotClock = [] { return QDateTime(QDate(2025, 1, 2), QTime(3, 4, 5)); };
    view->imageFromOpenGLView(blocker.fileName() + "/capture");
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_TRUE(alerts[0].startsWith("Snapshot failed|Could not write " + blocker.fileName() +
                                     "/capture/20250102_030405.jpg"))
        << alerts[0].toStdString();
}

}  // namespace
