#pragma once
#include <QColor>
#include <QRectF>

class QPainter;

// Draws a button's bezel: a rounded shape with a vertical six-stop shade,
// grey normally and bluish while the button stands for the current choice,
// darkened while the mouse holds it down.
class ShadeButtonCell {
public:
    ShadeButtonCell();

    // The button stands for the current choice. Does not redraw by itself.
    void setHighlight(bool on) { _Highlight = on; }
    bool highlight() const { return _Highlight; }

    // Held down by the mouse (or the keyboard) right now.
    void setHighlighted(bool down) { m_pressed = down; }
    bool isHighlighted() const { return m_pressed; }

    // Kept for borderless use; a bordered button paints its bezel over it.
    void setBackgroundColor(const QColor& c) { m_background = c; }
    QColor backgroundColor() const { return m_background; }

    void drawBezelWithFrame(const QRectF& frame, QPainter& painter) const;

private:
    bool _Highlight = false;
    bool m_pressed = false;
    QColor m_background;
};
