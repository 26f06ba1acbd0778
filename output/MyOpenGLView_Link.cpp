// The video view's side of a link: the reporter a link calls on its worker
// thread, and the reports as they arrive on the GUI thread.
#include <QString>
#include <algorithm>
#include <cstring>
#include <memory>

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

}  // namespace

// Handed to one link: copies each report into the view's mailbox, where it
// is applied on the GUI thread only if its link is still the attached one.
// A peer that repeats a report costs one waiting job per kind; link states
// keep their order, and past the mailbox's budget only the newest waits.
class ViewLinkReporter final : public INetView {
public:
    ViewLinkReporter(std::shared_ptr<GuiMailbox> box, MyOpenGLView* view, uint64_t epoch)
        : m_post(std::move(box), view, epoch, [view, epoch] { return view->acceptsReport(epoch); })
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
        m_post.latest(kMouseInfo, [=](MyOpenGLView& v) { v.setNetMouseInfo(version, offsetX, offsetY, videoStd); });
    }

private:
    struct Titles {
        char t[16][32];
    };

    MailboxReporter<MyOpenGLView> m_post;
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
