// The video view's on-screen display: time, mode, site name, channel title
// and playback label (the time group), the alarm text (the event group), and
// the picture size and frame rate (the frame-rate group), drawn over each
// cell that shows a picture, from one display list per glyph.
#include <QOpenGLFunctions_2_1>
#include <QVarLengthArray>
#include <algorithm>
#include <cmath>
#include <utility>

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
    const std::pair<int, unsigned*> sets[] = {
        {19, &_baseFont4}, {15, &_baseFont9}, {11, &_baseFont16}, {30, &_baseFont1}};
    const qreal scale = std::max<qreal>(1.0, devicePixelRatioF());
    for (auto [pixels, base] : sets) {
        *base = m_gl->glGenLists(kGlyphCount);
        QFont font;
        bool haveFont = GlyphFont::boldSans(int(std::lround(pixels * scale)), &font);
        if (!haveFont)
            vlog("font is nil\n");
        if (!haveFont || !GlyphFont(font).makeGLDisplayListFirst(m_gl, kGlyphFirst, kGlyphCount, *base))
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
    update();
}

void MyOpenGLView::SetDrawPlayback(int32_t speed)
{
    playSpeed = speed;
    update();
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
    _strTime[ch] = OsdText::timeText(m_drain.channel(ch).ChTime);
    if (_drawOsdEvent)
        _strEvent[ch] = OsdText::takeAlarmText(m_drain.events(), _videoLoss, ch);
    else
        _strEvent[ch].clear();
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

// Sets the item's colour and then its raster position, which takes that
// colour for the glyphs.
bool MyOpenGLView::placeItem(OsdText::Item item)
{
    float x = 0, y = 0;
    if (!OsdText::itemPosition(item, m_MaxCh, m_MouseClickCh, _ch, &x, &y))
        return false;
    OsdText::Colour c = OsdText::itemColour(item);
    m_gl->glColor3f(c.r, c.g, c.b);
    m_gl->glRasterPos3f(x, y, kTextDepth);
    return true;
}

void MyOpenGLView::drawTime()
{
    if (!_strTime[_ch].empty() && placeItem(OsdText::ItemTime))
        glPrint(GlyphFont::listCodes(_strTime[_ch].c_str()), _Fontindex);
}

void MyOpenGLView::drawVideoType()
{
    if (placeItem(OsdText::ItemMode))
        glPrint(GlyphFont::listCodes(OsdText::modeText(m_drain.channel(_ch).videoType)), _Fontindex);
}

void MyOpenGLView::drawRegName()
{
    if (!_strRegName.isEmpty() && placeItem(OsdText::ItemRegName))
        glPrint(GlyphFont::listCodes(_strRegName), _Fontindex);
}

void MyOpenGLView::drawChTitle()
{
    if (!_strChTitle[_ch].isEmpty() && placeItem(OsdText::ItemChTitle))
        glPrint(GlyphFont::listCodes(_strChTitle[_ch]), _Fontindex);
}

void MyOpenGLView::drawPlaybackControl()
{
    if (m_drain.channel(_ch).videoType != 1)
        return;
    const char* label = OsdText::playbackLabel(playSpeed);
    if (*label && placeItem(OsdText::ItemPlayback))
        glPrint(GlyphFont::listCodes(label), _Fontindex);
}

void MyOpenGLView::drawAlarm()
{
    if (!_strEvent[_ch].empty() && placeItem(OsdText::ItemAlarm))
        glPrint(GlyphFont::listCodes(_strEvent[_ch].c_str()), _Fontindex);
}

void MyOpenGLView::drawResolution()
{
    const ChannelFrameInfo& info = m_drain.channel(_ch);
    if (placeItem(OsdText::ItemResolution))
        glPrint(GlyphFont::listCodes(OsdText::resolutionText(info.videoW, info.videoH).c_str()), _Fontindex);
}

void MyOpenGLView::drawFramePerCh()
{
    if (placeItem(OsdText::ItemFrameRate))
        glPrint(GlyphFont::listCodes(OsdText::frameRateText(m_drain.channel(_ch).frameCount2).c_str()), _Fontindex);
}
