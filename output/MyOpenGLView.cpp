#include "output/MyOpenGLView.h"

#include <QOpenGLFramebufferObject>
#include <QOpenGLWindow>
#include <QVBoxLayout>
#include <QSurfaceFormat>
#include <algorithm>

#include "output/ViewSurface.h"
#include "platform/GuiMailbox.h"
#include "platform/Log.h"

namespace {

// Shortest time between two requests to repaint for new pictures alone
// (ms): every second refresh at 60 Hz, about 30 repaints a second.
constexpr int kPicturePaintMs = 25;

}  // namespace

MyOpenGLView::MyOpenGLView(QWidget* parent, bool allowRectTextures)
    : QWidget(parent),
      videoQ(std::make_unique<RingBuffer>()),
      m_mailbox(std::make_shared<GuiMailbox>(this)),
      m_allowRectTextures(allowRectTextures)
{
    m_surface = new ViewSurface(this);
    QSurfaceFormat fmt = m_surface->format();
    fmt.setRenderableType(QSurfaceFormat::OpenGL);
    fmt.setProfile(QSurfaceFormat::CompatibilityProfile);
    // Pictures and text are drawn in order; no depth buffer is needed.
    fmt.setDepthBufferSize(0);
    m_surface->setFormat(fmt);
    QWidget* container = QWidget::createWindowContainer(m_surface, this);
    container->setAccessibleName("Video");
    container->setFocusPolicy(Qt::NoFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(container);
    connect(m_surface, &QOpenGLWindow::frameSwapped, this, &MyOpenGLView::frameSwapped);
    setAccessibleName("Video");

    displayLink.setCallback([this] { onRefresh(); });
    // Runs before the first show too, so that a hidden view still frees slots.
    displayLink.start(60.0);
}

// Once per screen refresh: queued pictures are taken by the repaint that
// follows, so each refresh makes the context current once and uploads at
// most the newest picture of each channel. Video comes at 30 pictures a
// second or fewer per channel, so new pictures alone repaint at most that
// often; any other change repaints at the next refresh. A view that cannot
// paint takes the pictures without drawing them.
void MyOpenGLView::onRefresh()
{
    if (netSource)
        m_drain.releaseSuperseded(*videoQ, drawRule());
    bool queued = netSource && videoQ->count() > 0;
    if (queued && !m_surface->isExposed()) {
        m_drain.drain(*videoQ, drawRule(), m_noUpload);
        queued = false;
    }
    bool due = !m_lastPaintRequest.isValid() || m_lastPaintRequest.elapsed() >= kPicturePaintMs;
    if (m_dirty || (queued && due)) {
        m_lastPaintRequest.start();
        requestPaint();
    }
}

void MyOpenGLView::requestPaint()
{
    m_surface->update();
}

void MyOpenGLView::makeCurrent()
{
    m_surface->makeCurrent();
}

void MyOpenGLView::doneCurrent()
{
    m_surface->doneCurrent();
}

QOpenGLContext* MyOpenGLView::context() const
{
    return m_surface->context();
}

MyOpenGLView::~MyOpenGLView()
{
    vlog("OPENGLVIEW dealloc\n");
    m_mailbox->close();
    displayLink.stop();
    disconnect(m_contextGone);
    releaseGl();
}

// ---- controller side

void MyOpenGLView::SetNetPointer(CoNetwork* link)
{
    videoQ->reset();
    ++m_linkEpoch;
    m_bDrawStreaming = false;
    m_bLinkFailed = false;
    m_bVideoShown = false;
    m_CurrentNetStatus = StatusTable::kPicDisconnected;
    forgetPictures();
    if (!link) {
        m_MouseClickCh = 0;
        m_bBlank = false;
    }
    netSource = link;
    requestPaint();
}

void MyOpenGLView::SetRegName(const QString& name)
{
    _strRegName = name;
}

void MyOpenGLView::SetMainPointer(IViewController* controller)
{
    _pMain = controller;
}

void MyOpenGLView::ClearGlView()
{
    m_bBlank = true;
    forgetPictures();
    requestPaint();
}

void MyOpenGLView::setM_MouseClickCh(int ch)
{
    if (ch < 0 || ch > ViewLayout::kMaxChannels || ch == m_MouseClickCh)
        return;
    // Pictures of channels that were not drawn while zoomed are stale.
    if (m_MouseClickCh != 0) {
        for (int i = 0; i < ViewLayout::kMaxChannels; ++i)
            if (i != m_MouseClickCh - 1)
                m_chTex[i].valid = false;
    }
    m_MouseClickCh = ch;
    requestPaint();
}
// ---- frame loop

DrawRule MyOpenGLView::drawRule() const
{
    DrawRule r;
    r.maxCh = m_MaxCh;
    r.zoomCh = m_MouseClickCh;
    r.recOnOff = m_recOnOff;
    r.covert = m_Covert;
    return r;
}

int MyOpenGLView::drainFrames()
{
    if (!netSource)
        return 0;
    m_uploadCurrent = false;
    int taken = m_drain.drain(*videoQ, drawRule(), *this);
    if (m_uploadCurrent)
        doneCurrent();
    m_uploadCurrent = false;
    return taken;
}

void MyOpenGLView::uploadFrame(const tag_FrameV_Orgin& frame)
{
    int ch = frame.ch;  // checked by the drain
    // Pictures still queued when the link failed are not shown.
    if (!m_gl || m_bLinkFailed)
        return;
    if (!m_uploadCurrent) {
        makeCurrent();
        m_uploadCurrent = true;
    }
    if (!uploadTexture(m_chTex[ch], frame.outbuff, frame.w, frame.h))
        return;
    m_chTex[ch].valid = true;
    if (onUpload)
        onUpload(frame);
    takeOsdFrame(ch);
    m_lastDrawnCh = ch;
    m_bVideoShown = true;
    m_bBlank = false;
    m_dirty = true;
}

void MyOpenGLView::forgetPictures()
{
    for (Texture& t : m_chTex)
        t.valid = false;
    m_lastDrawnCh = -1;
}

void MyOpenGLView::forgetUndrawnPictures()
{
    for (int ch = 0; ch < ViewLayout::kMaxChannels; ++ch) {
        uint16_t bit = uint16_t(1u << ch);
        if (!(m_recOnOff & bit) || (m_Covert & bit))
            m_chTex[ch].valid = false;
    }
}
