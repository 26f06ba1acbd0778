// The video view's on-screen display: time, mode, site name, channel title
// and playback label (the time group), the alarm text (the event group), and
// the picture size and frame rate (the frame-rate group), drawn over each
// cell that shows a picture, from one display list per glyph.
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QOpenGLFunctions_2_1>
#include <QVarLengthArray>
#include <algorithm>
#include <cmath>
#include <utility>

#include "link/NxLib.h"
#include "output/GlyphFont.h"
#include "output/MyOpenGLView.h"
#include "platform/Log.h"

namespace {

constexpr uint16_t kGlyphFirst = 32;
constexpr int kGlyphCount = 96;
// Raster depth of the text: nearer than the pictures.
constexpr float kTextDepth = 3.0f;

}  // namespace

// ---- glyph sets

void MyOpenGLView::buildFont()
{
    // Font indexes 1, 2, 3 and 4; sizes in view pixels, so the text keeps
    // its size on a high-density screen.
    const std::pair<int, unsigned*> sets[] = {{glyphPixels(1), &_baseFont4},
                                              {glyphPixels(2), &_baseFont9},
                                              {glyphPixels(3), &_baseFont16},
                                              {glyphPixels(4), &_baseFont1}};
    const qreal scale = std::max<qreal>(1.0, devicePixelRatioF());  // of the widget window
    for (int i = 0; i < 4; ++i) {
        auto [pixels, base] = sets[i];
        *base = m_gl->glGenLists(kGlyphCount);
        QFont font;
        bool haveFont = GlyphFont::boldSans(int(std::lround(pixels * scale)), &font);
        if (!haveFont)
            vlog("font is nil\n");
        if (!haveFont ||
            !GlyphFont(font).makeGLDisplayListFirst(m_gl, kGlyphFirst, kGlyphCount, *base, &m_glyphSize[i]))
            vlog("Didn't make display list\n");
    }
}

void MyOpenGLView::KillFont()
{
    for (unsigned* base : {&_baseFont4, &_baseFont9, &_baseFont16, &_baseFont1}) {
        if (*base && m_gl)
            m_gl->glDeleteLists(*base, kGlyphCount);
        *base = 0;
    }
    for (GlyphSetSize& size : m_glyphSize)
        size = GlyphSetSize();
}

int MyOpenGLView::glyphPixels(int fontIndex)
{
    switch (fontIndex) {
    case 1: return 19;
    case 3: return 11;
    case 4: return 30;
    default: return 15;
    }
}

const GlyphSetSize& MyOpenGLView::glyphSize(int fontIndex) const
{
    return m_glyphSize[fontIndex >= 1 && fontIndex <= 4 ? fontIndex - 1 : 1];
}

unsigned MyOpenGLView::glyphListBase(int fontIndex) const
{
    switch (fontIndex) {
    case 1: return _baseFont4;
    case 3: return _baseFont16;
    case 4: return _baseFont1;
    default: return _baseFont9;
    }
}

// The list base is the set's first list and the codes are bytes counted
// from the first glyph, so that the driver can draw a whole text from one
// glyph atlas.
void MyOpenGLView::glPrint(const std::vector<uint16_t>& codes, int fontIndex)
{
    unsigned base = glyphListBase(fontIndex);
    if (!base || codes.empty())
        return;
    QVarLengthArray<uint8_t, 64> offsets;
    for (uint16_t c : codes)
        offsets.append(uint8_t(c - kGlyphFirst));
    m_gl->glPushAttrib(GL_LIST_BIT);
    m_gl->glListBase(base);
    m_gl->glCallLists(GLsizei(offsets.size()), GL_UNSIGNED_BYTE, offsets.data());
    m_gl->glPopAttrib();
}

// ---- switches

void MyOpenGLView::SetDrawOsd(int8_t code)
{
    switch (code) {
    case 1: _drawOsdTime = !_drawOsdTime; break;
    case 2: _drawOsdEvent = !_drawOsdEvent; break;
    case 3: _drawOsdFPS = !_drawOsdFPS; break;
    case 4: _drawOsdTime = _drawOsdEvent = _drawOsdFPS = true; break;
    case 5: _drawOsdTime = _drawOsdEvent = _drawOsdFPS = false; break;
    default: return;
    }
    requestPaint();
}

void MyOpenGLView::SetDrawPlayback(int32_t speed)
{
    playSpeed = speed;
    requestPaint();
}

std::string MyOpenGLView::eventText(int ch) const
{
    return ch >= 0 && ch < ViewLayout::kMaxChannels ? _strEvent[ch] : std::string();
}

// ---- per drawn frame

// The texts that change with each frame. The alarm bits are cleared here, so
// each event shows with the frame that follows it and stays on the picture
// until the channel's next frame, however often the view is repainted.
void MyOpenGLView::takeOsdFrame(int ch)
{
    if (ch < 0 || ch >= ViewLayout::kMaxChannels)
        return;
    _strTime[ch] = timeText(m_drain.channel(ch).ChTime);
    if (_drawOsdEvent)
        _strEvent[ch] = OsdText::takeAlarmText(m_drain.events(), _videoLoss, ch);
    else
        _strEvent[ch].clear();
}

// ---- the text layer

// Everything that decides what drawOsd(ch) draws in a cell.
std::string MyOpenGLView::osdKey(int ch) const
{
    const ChannelFrameInfo& info = m_drain.channel(ch);
    std::string k;
    k.reserve(160);
    k += char('A' + ch);
    k += char('0' + _Fontindex);
    k += _drawOsdTime ? 'T' : '-';
    k += _drawOsdEvent ? 'E' : '-';
    k += _drawOsdFPS ? 'F' : '-';
    if (_drawOsdTime) {
        k += _strTime[ch];
        k += '\n';
        k += OsdText::modeText(info.videoType);
        k += '\n';
        k += _strRegName.toStdString();
        k += '\n';
        k += _strChTitle[ch].toStdString();
        k += '\n';
        if (info.videoType == 1)
            k += OsdText::playbackLabel(playSpeed);
    }
    k += '\n';
    if (_drawOsdEvent)
        k += _strEvent[ch];
    k += '\n';
    if (_drawOsdFPS) {
        k += OsdText::resolutionText(info.videoW, info.videoH);
        k += OsdText::frameRateText(info.frameCount2);
    }
    return k;
}

// Redraws the text of the cells whose text changed into the layer, then
// puts the layer over the view. Text is kept inside its own cell.
void MyOpenGLView::paintOsdLayer(int side)
{
    GLint vp[4] = {};
    m_gl->glGetIntegerv(GL_VIEWPORT, vp);
    const int w = vp[2], h = vp[3];
    if (w <= 0 || h <= 0)
        return;
    const std::string layout = std::to_string(w) + "x" + std::to_string(h) + "/" + std::to_string(side) + "/" +
                               std::to_string(m_MaxCh) + "/" + std::to_string(m_MouseClickCh);
    if (!m_osdLayer || layout != m_osdLayout) {
        m_osdLayer.reset();
        m_osdLayer = std::make_unique<QOpenGLFramebufferObject>(w, h, QOpenGLFramebufferObject::NoAttachment,
                                                                GL_TEXTURE_2D, GL_RGBA8);
        m_osdLayout = layout;
        for (std::string& key : m_osdCellKey)
            key = "\x01";  // unlike any key: every cell is drawn anew
        m_osdLayer->bind();
        m_gl->glClearColor(0, 0, 0, 0);
        m_gl->glClear(GL_COLOR_BUFFER_BIT);
    } else {
        m_osdLayer->bind();
    }
    QOpenGLFunctions* f = context()->functions();
    if (!m_osdLayer->isValid()) {
        f->glBindFramebuffer(GL_FRAMEBUFFER, m_drawTarget);
        return;
    }
    bool any = false;
    m_gl->glEnable(GL_SCISSOR_TEST);
    m_gl->glClearColor(0, 0, 0, 0);
    for (int cell = 0; cell < side * side; ++cell) {
        const bool drawn = m_osdCellDrawn[cell];
        const std::string key = drawn ? osdKey(m_osdCellCh[cell]) : std::string();
        any = any || drawn;
        if (key == m_osdCellKey[cell])
            continue;
        m_osdCellKey[cell] = key;
        ViewLayout::CellRect r;
        if (!ViewLayout::cellRect(side, cell, &r))
            continue;
        const int x0 = int(std::floor((r.left + 1) / 2 * w)), x1 = int(std::ceil((r.right + 1) / 2 * w));
        const int y0 = int(std::floor((r.bottom + 1) / 2 * h)), y1 = int(std::ceil((r.top + 1) / 2 * h));
        m_gl->glScissor(x0, y0, x1 - x0, y1 - y0);
        m_gl->glClear(GL_COLOR_BUFFER_BIT);
        if (drawn)
            drawOsd(m_osdCellCh[cell]);
    }
    m_gl->glDisable(GL_SCISSOR_TEST);
    f->glBindFramebuffer(GL_FRAMEBUFFER, m_drawTarget);
    if (!any)
        return;

    // The layer goes over the bands of the drawn cells that hold text, not
    // over the whole view; glyph pixels are opaque, the rest clear.
    std::vector<GLfloat> vertices, texcoords;
    const float glyph = 2.0f * 1.5f * float(glyphPixels(_Fontindex)) * std::max<float>(1.0f, devicePixelRatioF()) / float(h);
    for (int cell = 0; cell < side * side; ++cell) {
        ViewLayout::CellRect r;
        if (!m_osdCellDrawn[cell] || !ViewLayout::cellRect(side, cell, &r))
            continue;
        float topBand = r.top, bottomBand = r.bottom;
        for (int item = 0; item < OsdText::kItemCount; ++item) {
            float x = 0, y = 0;
            if (!itemPlace(OsdText::Item(item), m_osdCellCh[cell], 0, &x, &y))
                continue;
            bool top = item <= OsdText::ItemPlayback;
            if (top)
                topBand = std::min(topBand, y);
            else
                bottomBand = std::max(bottomBand, y + glyph);
        }
        for (auto [lo, hi] : {std::pair{std::max(topBand, r.bottom), r.top}, std::pair{r.bottom, std::min(bottomBand, r.top)}}) {
            if (hi <= lo)
                continue;
            for (auto [vx, vy] : {std::pair{r.left, lo}, std::pair{r.left, hi}, std::pair{r.right, hi}, std::pair{r.right, lo}}) {
                vertices.push_back(vx);
                vertices.push_back(vy);
                texcoords.push_back((vx + 1) / 2);
                texcoords.push_back((vy + 1) / 2);
            }
        }
    }
    m_gl->glEnable(GL_TEXTURE_2D);
    m_gl->glBindTexture(GL_TEXTURE_2D, m_osdLayer->texture());
    m_gl->glEnable(GL_ALPHA_TEST);
    m_gl->glAlphaFunc(GL_GREATER, 0.5f);
    m_gl->glColor4f(1, 1, 1, 1);
    m_gl->glVertexPointer(2, GL_FLOAT, 0, vertices.data());
    m_gl->glTexCoordPointer(2, GL_FLOAT, 0, texcoords.data());
    m_gl->glDrawArrays(GL_QUADS, 0, GLsizei(vertices.size() / 2));
    m_gl->glDisable(GL_ALPHA_TEST);
    m_gl->glBindTexture(GL_TEXTURE_2D, 0);
    m_gl->glDisable(GL_TEXTURE_2D);
}

void MyOpenGLView::releaseOsdLayer()
{
    m_osdLayer.reset();
    m_osdLayout.clear();
}

// ---- per repaint of a cell

void MyOpenGLView::drawOsd(int ch)
{
    if (ch < 0 || ch >= ViewLayout::kMaxChannels)
        return;
    _ch = ch;
    if (_drawOsdTime) {
        drawTime();
        drawVideoType();
        drawRegName();
        drawChTitle();
        drawPlaybackControl();
    }
    if (_drawOsdEvent)
        drawAlarm();
    if (_drawOsdFPS) {
        drawResolution();
        drawFramePerCh();
    }
    m_gl->glColor4f(1, 1, 1, 1);
}

// The stated place, moved as little as needed for the whole text to fit in
// the cell: the layer clips each cell's text at the cell's edges.
bool MyOpenGLView::itemPlace(OsdText::Item item, int ch, int textWidth, float* x, float* y) const
{
    if (!OsdText::itemPosition(item, m_MaxCh, m_MouseClickCh, ch, x, y))
        return false;
    ViewLayout::CellRect r;
    const int side = ViewLayout::gridSide(m_MaxCh, m_MouseClickCh);
    if (m_osdLayer && ViewLayout::cellRect(side, ViewLayout::cellOfChannel(m_MaxCh, m_MouseClickCh, ch), &r))
        OsdText::fitInCell(r, m_osdLayer->width(), m_osdLayer->height(), textWidth,
                           glyphSize(_Fontindex).height, x, y);
    return true;
}

// Sets the item's colour and then its raster position, which takes that
// colour for the glyphs.
void MyOpenGLView::printItem(OsdText::Item item, const std::vector<uint16_t>& codes)
{
    float x = 0, y = 0;
    if (codes.empty() || !itemPlace(item, _ch, glyphSize(_Fontindex).textWidth(codes, kGlyphFirst), &x, &y))
        return;
    OsdText::Colour c = OsdText::itemColour(item);
    m_gl->glColor3f(c.r, c.g, c.b);
    m_gl->glRasterPos3f(x, y, kTextDepth);
    glPrint(codes, _Fontindex);
}

void MyOpenGLView::drawTime()
{
    printItem(OsdText::ItemTime, GlyphFont::listCodes(_strTime[_ch].c_str()));
}

void MyOpenGLView::drawVideoType()
{
    printItem(OsdText::ItemMode, GlyphFont::listCodes(OsdText::modeText(m_drain.channel(_ch).videoType)));
}

void MyOpenGLView::drawRegName()
{
    printItem(OsdText::ItemRegName, GlyphFont::listCodes(_strRegName));
}

void MyOpenGLView::drawChTitle()
{
    printItem(OsdText::ItemChTitle, GlyphFont::listCodes(_strChTitle[_ch]));
}

void MyOpenGLView::drawPlaybackControl()
{
    if (m_drain.channel(_ch).videoType == 1)
        printItem(OsdText::ItemPlayback, GlyphFont::listCodes(OsdText::playbackLabel(playSpeed)));
}

void MyOpenGLView::drawAlarm()
{
    printItem(OsdText::ItemAlarm, GlyphFont::listCodes(_strEvent[_ch].c_str()));
}

void MyOpenGLView::drawResolution()
{
    const ChannelFrameInfo& info = m_drain.channel(_ch);
    const std::string text = OsdText::resolutionText(info.videoW, info.videoH);
    printItem(OsdText::ItemResolution, GlyphFont::listCodes(text.c_str()));
}

void MyOpenGLView::drawFramePerCh()
{
    const std::string text = OsdText::frameRateText(m_drain.channel(_ch).frameCount2);
    printItem(OsdText::ItemFrameRate, GlyphFont::listCodes(text.c_str()));
}
