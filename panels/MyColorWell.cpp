#include "panels/MyColorWell.h"

#include <QPainter>

MyColorWell::MyColorWell(QWidget* parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::NoFocus);
    // Pressed, not released: the panel reacts on the mouse going down.
    connect(this, &QAbstractButton::pressed, this, [this] {
        if (targetParent && actionParent)
            actionParent(this);
    });
}

void MyColorWell::setColor(const QColor& c)
{
    if (c == m_color)
        return;
    m_color = c;
    update();
}

QSize MyColorWell::sizeHint() const
{
    return {11, 23};
}

void MyColorWell::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, m_color);
    p.setPen(palette().color(QPalette::Disabled, QPalette::Mid));
    p.drawRect(r.adjusted(0, 0, -1, -1));
}
