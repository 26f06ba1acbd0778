// The video view's side of a link: the reporter a link calls on its worker
// thread, and the reports as they arrive on the GUI thread.
#include <QString>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "output/IViewController.h"
#include "output/MyOpenGLView.h"
#include "platform/GuiMailbox.h"
#include "platform/MailboxReporter.h"
#include "platform/Log.h"

namespace {

// Reports that only matter by their newest value; each waits at most once.
enum ReportKind : uint64_t {
    kMaxCh = 1,
    kTitles,
    kCovert,
    kRecOnOff,
    kVideoLoss,
    kMouseInfo,
    kStatusOverflow,
};

// The second device's pointer values. A device may send them as fast as it
// can write: the view takes the newest at most once a pause, and values it
// already has are no news.
constexpr int kMouseInfoPauseMs = 100;

struct MouseInfoSlot {
    std::mutex lock;
    uint32_t version = 0;
    int8_t offsetX = 0;
    int8_t offsetY = 0;
    uint16_t videoStd = 0;
    bool known = false;  // values were reported
    bool fresh = false;  // newer than what the view has
    bool armed = false;  // a delivery waits, or the pause after one runs
};

}  // namespace

// Handed to one link: copies each report into the view's mailbox, where it
// is applied on the GUI thread only if its link is still the attached one.
// A peer that repeats a report costs one waiting job per kind; link states
// keep their order, and past the mailbox's budget only the newest waits.
// Pointer values, which come with every command message of their kind,
// reach the view a few times a second at most.
class ViewLinkReporter final : public INetView {
public:
    ViewLinkReporter(std::shared_ptr<GuiMailbox> box, MyOpenGLView* view, uint64_t epoch)
        : m_post(std::move(box), view, epoch, [view, epoch] { return view->acceptsReport(epoch); }), m_epoch(epoch)
    {
    }

    void setNetStatus(int status, const std::string& info) override
    {
        m_post.inOrder(kStatusOverflow, [status, info](MyOpenGLView& v) { v.setNetStatus(status, info); });
    }
    void setMaxCH(int maxCh) override
    {
        m_post.latest(kMaxCh, [maxCh](MyOpenGLView& v) { v.setMaxCH(maxCh); });
    }
    void SetChTitle(const char (&titles)[16][32]) override
    {
        auto copy = std::make_shared<Titles>();
        std::memcpy(copy->t, titles, sizeof copy->t);
        m_post.latest(kTitles, [copy](MyOpenGLView& v) { v.SetChTitle(copy->t); });
    }
    void SetCovert(uint16_t mask) override
    {
        m_post.latest(kCovert, [mask](MyOpenGLView& v) { v.SetCovert(mask); });
    }
    void SetRecOnOff(uint16_t mask) override
    {
        m_post.latest(kRecOnOff, [mask](MyOpenGLView& v) { v.SetRecOnOff(mask); });
    }
    void SetVideoLoss(uint16_t mask) override
    {
        m_post.latest(kVideoLoss, [mask](MyOpenGLView& v) { v.SetVideoLoss(mask); });
    }
    void setNetMouseInfo(uint32_t version, int8_t offsetX, int8_t offsetY, uint16_t videoStd) override
    {
        {
            MouseInfoSlot& m = *m_mouse;
            std::lock_guard<std::mutex> guard(m.lock);
            if (m.known && m.version == version && m.offsetX == offsetX && m.offsetY == offsetY &&
                m.videoStd == videoStd)
                return;
            m.version = version;
            m.offsetX = offsetX;
            m.offsetY = offsetY;
            m.videoStd = videoStd;
            m.known = m.fresh = true;
            if (m.armed)
                return;
            m.armed = true;
        }
        m_post.latest(kMouseInfo,
                      [slot = m_mouse, epoch = m_epoch](MyOpenGLView& v) { applyMouseInfo(v, slot, epoch); });
    }

private:
    // GUI thread: hands the newest values to the view; newer ones that come
    // during the pause after it wait for its end.
    static void applyMouseInfo(MyOpenGLView& view, const std::shared_ptr<MouseInfoSlot>& slot, uint64_t epoch)
    {
        uint32_t version;
        int8_t x, y;
        uint16_t videoStd;
        {
            std::lock_guard<std::mutex> guard(slot->lock);
            if (!slot->fresh) {
                slot->armed = false;
                return;
            }
            slot->fresh = false;
            version = slot->version;
            x = slot->offsetX;
            y = slot->offsetY;
            videoStd = slot->videoStd;
        }
        view.setNetMouseInfo(version, x, y, videoStd);
        QTimer::singleShot(kMouseInfoPauseMs, &view, [&view, slot, epoch] {
            if (view.acceptsReport(epoch))
                applyMouseInfo(view, slot, epoch);
        });
    }

    struct Titles {
        char t[16][32];
    };

    MailboxReporter<MyOpenGLView> m_post;
    uint64_t m_epoch;
    std::shared_ptr<MouseInfoSlot> m_mouse = std::make_shared<MouseInfoSlot>();
};

std::unique_ptr<INetView> MyOpenGLView::makeLinkReporter()
{
    if (!netSource)
        vlog("view reporter made with no link attached");
    return std::make_unique<ViewLinkReporter>(m_mailbox, this, m_linkEpoch);
}

// ---- link reports

void MyOpenGLView::setNetStatus(int status, const std::string& info)
{
    StatusTable::Action act;
    if (!StatusTable::actionFor(status, &act))
        return;
    m_bBlank = false;
    // Any other state after pictures were shown ends them at once: a failure
    // or a stalled stream shows its picture, not the last pictures as if
    // they were live. A link that connects again or whose pictures come
    // back shows its new pictures.
    if (act.streaming) {
        m_bDrawStreaming = true;
        m_bLinkFailed = false;
    } else {
        m_CurrentNetStatus = act.picture;
        m_bDrawStreaming = false;
        m_bVideoShown = false;
        forgetPictures();
    }
    if (act.buttonsOff)
        m_bLinkFailed = true;
    requestPaint();
    if (!_pMain)
        return;
    // Every failure tells the status line, so no progress text outlives
    // its step.
    int kind = act.lineKind;
    if (act.buttonsOff && kind < 0)
        kind = CONNECT_STR_DISCONNECTED;
    if (kind >= 0) {
        int code = 0;
        if (kind == CONNECT_STR_LOGIN_FAIL && !info.empty())
            code = int8_t(info[0]);
        _pMain->DisplayConnectStr(std::string(), code, std::string(), kind);
    }
    if (act.buttonsOff)
        _pMain->SetButtonStatus(0);
}

void MyOpenGLView::setMaxCH(int maxCh)
{
    m_MaxCh = maxCh;
    requestPaint();
}

void MyOpenGLView::SetChTitle(const char (&titles)[16][32])
{
    int n = std::clamp(m_MaxCh, 0, ViewLayout::kMaxChannels);
    for (int ch = 0; ch < n; ++ch) {
        const auto* b = reinterpret_cast<const unsigned char*>(titles[ch]);
        char16_t units[16];
        int len = 0;
        while (len < 16) {
            char16_t u = char16_t(b[2 * len] | (b[2 * len + 1] << 8));
            if (!u)
                break;
            units[len++] = u;
        }
        _strChTitle[ch] = QString::fromUtf16(units, len);
    }
}

void MyOpenGLView::SetCovert(uint16_t mask)
{
    m_Covert = mask;
    forgetUndrawnPictures();
    requestPaint();
}

void MyOpenGLView::SetRecOnOff(uint16_t mask)
{
    m_recOnOff = mask;
    forgetUndrawnPictures();
    requestPaint();
}

void MyOpenGLView::SetVideoLoss(uint16_t mask)
{
    _videoLoss = mask;
}

QString MyOpenGLView::chTitle(int ch) const
{
    return ch >= 0 && ch < ViewLayout::kMaxChannels ? _strChTitle[ch] : QString();
}
