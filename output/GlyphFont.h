#pragma once
#include <QFont>
#include <QString>
#include <cstdint>
#include <vector>

class QImage;
class QOpenGLFunctions_2_1;

// One character as an OpenGL bitmap: w x h pixels, 1 bit per pixel, rows
// from the bottom row up, most significant bit first, each row padded to
// whole bytes.
struct GlyphBitmap {
    int w = 0;
    int h = 0;
    std::vector<uint8_t> bits;

    bool empty() const { return w <= 0 || h <= 0; }
    bool bit(int x, int yFromBottom) const;
};

// Pixel extents of a compiled glyph set: each list's advance by list offset
// (0 where no list was made) and the glyphs' height.
struct GlyphSetSize {
    std::vector<int> advance;
    int height = 0;

    // Width the lists draw a text in, its codes (listCodes) counted from first.
    int textWidth(const std::vector<uint16_t>& codes, uint16_t first) const;
};

// Bitmap glyphs of one font for display lists: one list per character code,
// each a glBitmap with origin (0, 0) that advances the raster position by the
// character's width. The lists draw in the colour current when the raster
// position was set.
class GlyphFont {
public:
    // The bold sans face (DejaVu Sans Bold, found through fontconfig) at a
    // pixel size; false when it is not installed.
    static bool boldSans(int pixelSize, QFont* out);
    // Its file as fontconfig reports it; empty when missing.
    static QString boldSansFile();

    explicit GlyphFont(const QFont& font) : m_font(font) {}
    const QFont& font() const { return m_font; }

    // The character's image, its advance wide and the font's line high,
    // packed; empty when the character has no extent.
    GlyphBitmap glyph(char16_t c) const;

    // Compiles lists base + (c - first) for the codes first .. first+count-1;
    // a character without extent gets no list. False when a list is being
    // compiled already or a bitmap could not be made. size, when given,
    // receives the extents of the lists made.
    bool makeGLDisplayListFirst(QOpenGLFunctions_2_1* gl, uint16_t first, int count, unsigned base,
                                GlyphSetSize* size = nullptr) const;
    static bool makeDisplayList(QOpenGLFunctions_2_1* gl, unsigned list, const GlyphBitmap& glyph);

    // Packs an image drawn light on black: a pixel whose red is at least
    // half on is a 1 bit.
    static GlyphBitmap pack(const QImage& image);

    // List codes of a text: one per character, '?' for characters outside
    // 32..127 (a surrogate pair is one character).
    static std::vector<uint16_t> listCodes(const QString& text);
    static std::vector<uint16_t> listCodes(const char* text);

    static void setOpenGLLogging(bool on);
    static void doOpenGLLog(const char* text);

private:
    QFont m_font;
};
