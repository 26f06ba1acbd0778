// The video view's OpenGL side: set-up, textures and drawing.
#include "output/MyOpenGLView.h"

#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QOpenGLFunctions_2_1>
#include <QOpenGLVersionFunctionsFactory>
#include <QScreen>
#include <algorithm>

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

int nextPow2(int v)
{
    int p = 1;
    while (p < v && p < (1 << 30))
        p <<= 1;
    return p;
}

}  // namespace

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
