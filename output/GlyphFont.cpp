#include "output/GlyphFont.h"

#include <fontconfig/fontconfig.h>

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QOpenGLFunctions_2_1>
#include <QPainter>
#include <algorithm>
#include <atomic>
#include <cmath>

#include "platform/Log.h"

namespace {

constexpr const char* kFamily = "DejaVu Sans";

std::atomic<bool> g_openGLLoggingEnabled{true};

bool hasFamily(FcPattern* p, const char* family)
{
    FcChar8* name = nullptr;
    for (int i = 0; FcPatternGetString(p, FC_FAMILY, i, &name) == FcResultMatch; ++i)
        if (QString::fromUtf8(reinterpret_cast<const char*>(name)).compare(family, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// The face fontconfig picks for the family in bold, if it is that family.
QString matchBoldFile(const char* family)
{
    if (!FcInit())
        return QString();
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
    FcPatternAddInteger(pattern, FC_WEIGHT, FC_WEIGHT_BOLD);
    FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
    FcPatternAddInteger(pattern, FC_WIDTH, FC_WIDTH_NORMAL);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    QString path;
    int weight = 0;
    FcChar8* file = nullptr;
    if (match && hasFamily(match, family) && FcPatternGetInteger(match, FC_WEIGHT, 0, &weight) == FcResultMatch &&
        weight >= FC_WEIGHT_BOLD && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch)
        path = QString::fromUtf8(reinterpret_cast<const char*>(file));
    if (match)
        FcPatternDestroy(match);
    FcPatternDestroy(pattern);
    return path;
}

}  // namespace

bool GlyphBitmap::bit(int x, int yFromBottom) const
{
    if (x < 0 || x >= w || yFromBottom < 0 || yFromBottom >= h)
        return false;
    const int rowBytes = (w + 7) / 8;
    return bits[size_t(yFromBottom) * size_t(rowBytes) + size_t(x / 8)] & (0x80 >> (x % 8));
}

QString GlyphFont::boldSansFile()
{
    static const QString path = matchBoldFile(kFamily);
    return path;
}

bool GlyphFont::boldSans(int pixelSize, QFont* out)
{
    // The face is registered from the file fontconfig names, so that the
    // glyphs come from that file whatever else is installed.
    static const QString family = [] {
        const QString file = boldSansFile();
        if (file.isEmpty())
            return QString();
        const int id = QFontDatabase::addApplicationFont(file);
        return id < 0 ? QString() : QFontDatabase::applicationFontFamilies(id).value(0);
    }();
    if (family.isEmpty() || pixelSize <= 0)
        return false;
    QFont font(family);
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Bold);
    font.setStyle(QFont::StyleNormal);
    font.setStretch(QFont::Unstretched);
    font.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::NoFontMerging));
    const QFontInfo info(font);
    if (info.family().compare(family, Qt::CaseInsensitive) != 0 || !info.bold())
        return false;
    *out = font;
    return true;
}

GlyphBitmap GlyphFont::glyph(char16_t c) const
{
    const QString s{QChar(c)};
    const QFontMetricsF fm(m_font);
    // The measured box, enlarged outward to whole pixels.
    const int w = int(std::ceil(fm.horizontalAdvance(s)));
    const int h = int(std::ceil(fm.height()));
    if (w <= 0 || h <= 0)
        return GlyphBitmap();
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::black);
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::TextAntialiasing, false);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setFont(m_font);
        p.setPen(QColor(255, 255, 0));
        p.drawText(QPointF(0, fm.ascent()), s);
    }
    return pack(img);
}

GlyphBitmap GlyphFont::pack(const QImage& image)
{
    GlyphBitmap g;
    if (image.isNull())
        return g;
    const QImage img = image.convertToFormat(QImage::Format_RGB32);
    g.w = img.width();
    g.h = img.height();
    const int rowBytes = (g.w + 7) / 8;
    g.bits.assign(size_t(rowBytes) * size_t(g.h), 0);
    for (int row = 0; row < g.h; ++row) {
        const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(g.h - 1 - row));
        uint8_t* out = g.bits.data() + size_t(row) * size_t(rowBytes);
        for (int x = 0; x < g.w; ++x)
            if (qRed(line[x]) >= 128)
                out[x / 8] |= uint8_t(0x80 >> (x % 8));
    }
    return g;
}

int GlyphSetSize::textWidth(const std::vector<uint16_t>& codes, uint16_t first) const
{
    int w = 0;
    for (uint16_t c : codes)
        if (c >= first && size_t(c - first) < advance.size())
            w += advance[c - first];
    return w;
}

bool GlyphFont::makeGLDisplayListFirst(QOpenGLFunctions_2_1* gl, uint16_t first, int count, unsigned base,
                                       GlyphSetSize* size) const
{
    if (!gl || count <= 0 || !base)
        return false;
    GLint compiling = 0;
    gl->glGetIntegerv(GL_LIST_INDEX, &compiling);
    if (compiling != 0) {
        doOpenGLLog("Display list already under construction");
        return false;
    }
    gl->glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    gl->glPixelStorei(GL_UNPACK_SWAP_BYTES, GL_FALSE);
    gl->glPixelStorei(GL_UNPACK_LSB_FIRST, GL_FALSE);
    gl->glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    gl->glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    bool ok = true;
    GlyphSetSize made;
    made.advance.assign(size_t(count), 0);
    for (int i = 0; i < count && ok; ++i) {
        const GlyphBitmap g = glyph(char16_t(first + i));
        if (!g.empty())
            ok = makeDisplayList(gl, base + unsigned(i), g);
        if (ok && !g.empty()) {
            made.advance[size_t(i)] = g.w;
            made.height = std::max(made.height, g.h);
        }
    }
    if (size)
        *size = ok ? std::move(made) : GlyphSetSize();
    gl->glPopClientAttrib();
    return ok;
}

bool GlyphFont::makeDisplayList(QOpenGLFunctions_2_1* gl, unsigned list, const GlyphBitmap& g)
{
    if (g.empty() || g.bits.size() < size_t((g.w + 7) / 8) * size_t(g.h))
        return false;
    gl->glNewList(list, GL_COMPILE);
    gl->glBitmap(g.w, g.h, 0, 0, GLfloat(g.w), 0, g.bits.data());
    gl->glEndList();
    return true;
}

std::vector<uint16_t> GlyphFont::listCodes(const QString& text)
{
    std::vector<uint16_t> codes;
    codes.reserve(size_t(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        codes.push_back(u >= 32 && u <= 127 ? u : uint16_t('?'));
    }
    return codes;
}

std::vector<uint16_t> GlyphFont::listCodes(const char* text)
{
    std::vector<uint16_t> codes;
    for (const char* p = text; p && *p; ++p) {
        const auto u = uint8_t(*p);
        codes.push_back(u >= 32 && u <= 127 ? u : uint16_t('?'));
    }
    return codes;
}

void GlyphFont::setOpenGLLogging(bool on)
{
    g_openGLLoggingEnabled = on;
}

void GlyphFont::doOpenGLLog(const char* text)
{
    if (g_openGLLoggingEnabled)
        vlog("NSFont_OpenGL: %s\n", text);
}
