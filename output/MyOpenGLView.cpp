#include "output/MyOpenGLView.h"

#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QOpenGLFunctions_2_1>
#include <QOpenGLVersionFunctionsFactory>
#include <QOpenGLWindow>
#include <QVBoxLayout>
#include <QScreen>
#include <QSurfaceFormat>
#include <algorithm>
#include <cstring>
#include <mutex>

#include "output/IViewController.h"
#include "output/StatusPictures.h"
#include "output/ViewSurface.h"
#include "platform/Log.h"

#ifndef GL_TEXTURE_RECTANGLE
#define GL_TEXTURE_RECTANGLE 0x84F5
#endif
#ifndef GL_MAX_RECTANGLE_TEXTURE_SIZE
#define GL_MAX_RECTANGLE_TEXTURE_SIZE 0x84F8
#endif

namespace {

// Shortest time between two requests to repaint for new pictures alone
// (ms): every second refresh at 60 Hz, about 30 repaints a second.
constexpr int kPicturePaintMs = 25;

int nextPow2(int v)
{
    int p = 1;
    while (p < v && p < (1 << 30))
        p <<= 1;
    return p;
}

}  // namespace

// The view a reporter posts to; cleared when the view goes away.
struct ViewReportBox {
    std::mutex lock;
    MyOpenGLView* view = nullptr;
};

// Handed to one link: copies each report and posts it to the GUI thread,
// where it is applied only if its link is still the attached one.
class ViewLinkReporter final : public INetView {
public:
    ViewLinkReporter(std::shared_ptr<ViewReportBox> box, uint64_t epoch) : m_box(std::move(box)), m_epoch(epoch) {}

    void setNetStatus(int status, const std::string& info) override
    {
        post([status, info](MyOpenGLView& v) { v.setNetStatus(status, info); });
    }
    void setMaxCH(int maxCh) override
    {
        post([maxCh](MyOpenGLView& v) { v.setMaxCH(maxCh); });
    }
    void SetChTitle(const char (&titles)[16][32]) override
    {
        Titles copy;
        std::memcpy(copy.t, titles, sizeof copy.t);
        post([copy](MyOpenGLView& v) { v.SetChTitle(copy.t); });
    }
    void SetCovert(uint16_t mask) override
    {
        post([mask](MyOpenGLView& v) { v.SetCovert(mask); });
    }
    void SetRecOnOff(uint16_t mask) override
    {
        post([mask](MyOpenGLView& v) { v.SetRecOnOff(mask); });
    }
    void SetVideoLoss(uint16_t mask) override
    {
        post([mask](MyOpenGLView& v) { v.SetVideoLoss(mask); });
    }
    void setNetMouseInfo(uint32_t version, int8_t offsetX, int8_t offsetY, uint16_t videoStd) override
    {
        post([=](MyOpenGLView& v) { v.setNetMouseInfo(version, offsetX, offsetY, videoStd); });
    }

private:
    struct Titles {
        char t[16][32];
    };

    template <typename Fn>
    void post(Fn fn)
    {
        std::lock_guard<std::mutex> guard(m_box->lock);
        MyOpenGLView* view = m_box->view;
        if (!view)
            return;
        uint64_t epoch = m_epoch;
        QMetaObject::invokeMethod(
            view,
            [view, epoch, fn = std::move(fn)]() {
                if (view->acceptsReport(epoch))
                    fn(*view);
            },
            Qt::QueuedConnection);
    }

    std::shared_ptr<ViewReportBox> m_box;
    uint64_t m_epoch;
};

MyOpenGLView::MyOpenGLView(QWidget* parent, bool allowRectTextures)
    : QWidget(parent),
      videoQ(std::make_unique<RingBuffer>()),
      m_reportBox(std::make_shared<ViewReportBox>()),
      m_allowRectTextures(allowRectTextures)
{
    m_reportBox->view = this;
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
    {
        std::lock_guard<std::mutex> guard(m_reportBox->lock);
        m_reportBox->view = nullptr;
    }
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

std::unique_ptr<INetView> MyOpenGLView::makeLinkReporter()
{
    if (!netSource)
        vlog("view reporter made with no link attached");
    return std::make_unique<ViewLinkReporter>(m_reportBox, m_linkEpoch);
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

// ---- link reports

void MyOpenGLView::setNetStatus(int status, const std::string& info)
{
    StatusTable::Action act;
    if (!StatusTable::actionFor(status, &act))
        return;
    m_bBlank = false;
    // A failure after pictures were shown ends them at once: the failure
    // picture replaces them and the status line says so.
    bool lostStream = act.buttonsOff && showsVideo();
    if (act.streaming) {
        m_bDrawStreaming = true;
    } else {
        m_CurrentNetStatus = act.picture;
        m_bVideoShown = false;
    }
    if (act.buttonsOff) {
        m_bLinkFailed = true;
        m_bDrawStreaming = false;
        forgetPictures();
    }
    requestPaint();
    if (!_pMain)
        return;
    if (lostStream && act.lineKind < 0)
        _pMain->DisplayConnectStr(std::string(), 0, std::string(), CONNECT_STR_DISCONNECTED);
    if (act.lineKind >= 0) {
        int code = 0;
        if (act.lineKind == CONNECT_STR_LOGIN_FAIL && !info.empty())
            code = int8_t(info[0]);
        _pMain->DisplayConnectStr(std::string(), code, std::string(), act.lineKind);
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

// ---- GL set-up

void MyOpenGLView::prepareOpenGL()
{
    disconnect(m_contextGone);
    m_contextGone = connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] { releaseGl(); },
                            Qt::DirectConnection);
    m_gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_2_1>(context());
    if (m_gl && !m_gl->initializeOpenGLFunctions())
        m_gl = nullptr;
    if (m_gl) {
        m_gl->glShadeModel(GL_SMOOTH);
        m_gl->glClearColor(0, 0, 0, 0);
        m_gl->glDisable(GL_DEPTH_TEST);
        m_gl->glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
        chooseTextureKind();
        loadStatusTextures();
        buildFont();
    } else {
        vlog("OpenGL compatibility profile not available");
    }
    QScreen* s = m_surface->screen();
    displayLink.start(s ? s->refreshRate() : 60.0);
    vlog("preparegl ok");
}

void MyOpenGLView::chooseTextureKind()
{
    QOpenGLContext* ctx = context();
    bool rect = ctx->hasExtension("GL_ARB_texture_rectangle") || ctx->hasExtension("GL_EXT_texture_rectangle") ||
                ctx->hasExtension("GL_NV_texture_rectangle") || ctx->format().version() >= qMakePair(3, 1);
    m_rectTextures = m_allowRectTextures && rect;
    m_npotTextures = ctx->hasExtension("GL_ARB_texture_non_power_of_two") ||
                     ctx->format().version() >= qMakePair(2, 0);
    m_texTarget = m_rectTextures ? GL_TEXTURE_RECTANGLE : GL_TEXTURE_2D;
    GLint maxSize = 0;
    m_gl->glGetIntegerv(m_rectTextures ? GL_MAX_RECTANGLE_TEXTURE_SIZE : GL_MAX_TEXTURE_SIZE, &maxSize);
    m_maxTexSize = maxSize > 0 ? maxSize : 1024;
}

void MyOpenGLView::loadStatusTextures()
{
    QImage pictures[StatusTable::kPictureCount];
    for (int slot = 0; slot < StatusTable::kPictureCount; ++slot) {
        pictures[slot] = StatusPictures::make(slot);
        if (pictures[slot].isNull()) {
            vlog("No image");
            return;
        }
    }
    for (int slot = 0; slot < StatusTable::kPictureCount; ++slot) {
        const QImage& img = pictures[slot];
        texIds[slot].valid = uploadTexture(texIds[slot], img.constBits(), img.width(), img.height());
    }
}

// Pixels are bytes blue, green, red, alpha. They are read as bytes because a
// queue slot's pixel array need not be 4-byte aligned.
bool MyOpenGLView::uploadTexture(Texture& t, const void* pixels, int w, int h)
{
    if (w <= 0 || h <= 0 || w > m_maxTexSize || h > m_maxTexSize)
        return false;
    if (!t.id)
        m_gl->glGenTextures(1, &t.id);
    m_gl->glBindTexture(m_texTarget, t.id);
    m_gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    m_gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    bool ok = true;
    if (w != t.w || h != t.h) {
        int aw = m_npotTextures || m_rectTextures ? w : nextPow2(w);
        int ah = m_npotTextures || m_rectTextures ? h : nextPow2(h);
        bool exact = aw == w && ah == h;
        m_gl->glTexParameteri(m_texTarget, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        m_gl->glTexParameteri(m_texTarget, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        m_gl->glTexParameteri(m_texTarget, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        m_gl->glTexParameteri(m_texTarget, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        while (m_gl->glGetError() != GL_NO_ERROR) {
        }
        m_gl->glTexImage2D(m_texTarget, 0, GL_RGBA8, aw, ah, 0, GL_BGRA, GL_UNSIGNED_BYTE,
                           exact ? pixels : nullptr);
        ok = m_gl->glGetError() == GL_NO_ERROR;
        t.w = ok ? w : 0;
        t.h = ok ? h : 0;
        t.allocW = aw;
        t.allocH = ah;
        if (exact || !ok) {
            m_gl->glBindTexture(m_texTarget, 0);
            return ok;
        }
    }
    m_gl->glTexSubImage2D(m_texTarget, 0, 0, 0, w, h, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    m_gl->glBindTexture(m_texTarget, 0);
    return ok;
}

void MyOpenGLView::releaseGl()
{
    if (!m_gl)
        return;
    makeCurrent();
    for (Texture& t : m_chTex) {
        if (t.id)
            m_gl->glDeleteTextures(1, &t.id);
        t = Texture();
    }
    for (Texture& t : texIds) {
        if (t.id)
            m_gl->glDeleteTextures(1, &t.id);
        t = Texture();
    }
    KillFont();
    releaseOsdLayer();
    m_lastDrawnCh = -1;
    m_gl = nullptr;
    doneCurrent();
}

void MyOpenGLView::reshape(int w, int h)
{
    vlog("reshape");
    _rectGLView = QRect(0, 0, w, h);
}

// ---- drawing

void MyOpenGLView::drawRect()
{
    // The context is current here: take what the queue holds first.
    if (netSource) {
        m_uploadCurrent = true;
        m_drain.drain(*videoQ, drawRule(), *this);
        m_uploadCurrent = false;
    }
    m_dirty = false;
    m_drawTarget = m_surface->defaultFramebufferObject();
    drawFrame();
}

QImage MyOpenGLView::grabFramebuffer()
{
    if (!m_gl || !context())
        return QImage();
    const qreal dpr = m_surface->devicePixelRatio();
    const QSize size(qMax(1, qRound(m_surface->width() * dpr)), qMax(1, qRound(m_surface->height() * dpr)));
    makeCurrent();
    QOpenGLFramebufferObject fbo(size, QOpenGLFramebufferObject::NoAttachment, GL_TEXTURE_2D, GL_RGBA8);
    fbo.bind();
    m_drawTarget = fbo.handle();
    m_gl->glViewport(0, 0, size.width(), size.height());
    drawFrame();
    QImage image = fbo.toImage();
    fbo.release();
    doneCurrent();
    return image;
}

void MyOpenGLView::drawFrame()
{
    QOpenGLFunctions* f = context()->functions();
    f->glClearColor(0, 0, 0, 0);
    f->glClear(GL_COLOR_BUFFER_BIT);
    if (!m_gl || m_bBlank)
        return;
    CalculateFontSize();
    beginQuads();
    if (showsVideo())
        paintVideoLayout();
    else
        drawPicture(m_CurrentNetStatus, 1, 0);
}

void MyOpenGLView::beginQuads()
{
    m_gl->glMatrixMode(GL_PROJECTION);
    m_gl->glLoadIdentity();
    m_gl->glOrtho(-1, 1, -1, 1, -10, 10);
    m_gl->glMatrixMode(GL_MODELVIEW);
    m_gl->glLoadIdentity();
    m_gl->glBindBuffer(GL_ARRAY_BUFFER, 0);
    m_gl->glEnableClientState(GL_VERTEX_ARRAY);
    m_gl->glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    m_gl->glColor4f(1, 1, 1, 1);
}

void MyOpenGLView::drawQuad(const Texture& t, int side, int cell)
{
    ViewLayout::CellRect r;
    if (!t.id || t.w <= 0 || !ViewLayout::cellRect(side, cell, &r))
        return;
    // Rectangle textures take pixel coordinates, plain ones normalised.
    float tw = m_rectTextures ? float(t.w) : float(t.w) / float(t.allocW);
    float th = m_rectTextures ? float(t.h) : float(t.h) / float(t.allocH);
    // Bottom-left, top-left, top-right, bottom-right; the first pixel row
    // (the top of the picture) goes to the top edge.
    const GLfloat vertices[12] = {r.left, r.bottom, 1, r.left, r.top, 1, r.right, r.top, 1, r.right, r.bottom, 1};
    const GLfloat texcoords[8] = {0, th, 0, 0, tw, 0, tw, th};
    m_gl->glEnable(m_texTarget);
    m_gl->glBindTexture(m_texTarget, t.id);
    m_gl->glVertexPointer(3, GL_FLOAT, 0, vertices);
    m_gl->glTexCoordPointer(2, GL_FLOAT, 0, texcoords);
    m_gl->glDrawArrays(GL_QUADS, 0, 4);
    m_gl->glBindTexture(m_texTarget, 0);
    m_gl->glDisable(m_texTarget);
}

void MyOpenGLView::drawPicture(int slot, int side, int cell)
{
    if (slot >= 0 && slot < StatusTable::kPictureCount && texIds[slot].valid)
        drawQuad(texIds[slot], side, cell);
}

void MyOpenGLView::paintVideoLayout()
{
    std::fill(std::begin(m_osdCellDrawn), std::end(m_osdCellDrawn), false);
    int n = std::clamp(m_MaxCh, 0, ViewLayout::kMaxChannels);
    if (m_MouseClickCh != 0) {
        int ch = m_MouseClickCh - 1;
        m_osdCellDrawn[0] = paintChannel(ch, 1, 0, ch < n);
        m_osdCellCh[0] = ch;
        paintOsdLayer(1);
        return;
    }
    int side = ViewLayout::gridSide(m_MaxCh, 0);
    if (side > 1) {
        for (int ch = 0; ch < std::min(n, side * side); ++ch) {
            m_osdCellDrawn[ch] = paintChannel(ch, side, ch, true);
            m_osdCellCh[ch] = ch;
        }
        paintOsdLayer(side);
        return;
    }
    // One cell for every channel: the markers, then the last picture drawn
    // with its text.
    for (int ch = 0; ch < n; ++ch)
        paintChannel(ch, 1, 0, true);
    m_osdCellDrawn[0] = m_lastDrawnCh >= 0 && paintChannel(m_lastDrawnCh, 1, 0, false);
    m_osdCellCh[0] = m_lastDrawnCh;
    paintOsdLayer(1);
}

// Answers whether the channel's picture was drawn.
bool MyOpenGLView::paintChannel(int ch, int side, int cell, bool markers)
{
    uint16_t bit = uint16_t(1u << ch);
    bool rec = m_recOnOff & bit;
    bool cov = m_Covert & bit;
    if (rec && !cov) {
        if (!m_chTex[ch].valid)
            return false;
        drawQuad(m_chTex[ch], side, cell);
        return true;
    }
    if (!markers)
        return false;
    if (!rec)
        drawPicture(StatusTable::kPicRecOff, side, cell);
    if (cov)
        drawPicture(StatusTable::kPicCovert, side, cell);
    return false;
}
