#include "panels/ShadeButtonCell.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr qreal kRadius = 3.0;

QPainterPath roundedInset(const QRectF& frame, qreal d)
{
    QPainterPath path;
    path.addRoundedRect(frame.adjusted(d, d, -d, -d), kRadius, kRadius);
    return path;
}

QColor grey(qreal white, qreal alpha = 1.0)
{
    return QColor::fromRgbF(float(white), float(white), float(white), float(alpha));
}

// Two stops share the middle so the shade steps there; the second one sits
// a hair above it because a gradient keeps one colour per position.
QGradientStops shadeStops(bool highlight)
{
    const qreal mid = 0.5 + 1e-6;
    if (highlight) {
        return {{0.0, QColor::fromRgbF(0.70f, 0.80f, 1.0f)}, {0.12, QColor::fromRgbF(0.75f, 0.85f, 1.0f)},
                {0.5, QColor::fromRgbF(0.80f, 0.90f, 1.0f)},  {mid, QColor::fromRgbF(0.85f, 0.95f, 1.0f)},
                {0.98, QColor::fromRgbF(0.90f, 0.95f, 1.0f)}, {1.0, QColor::fromRgbF(0.95f, 1.0f, 1.0f)}};
    }
    return {{0.0, grey(0.80)}, {0.12, grey(0.83)}, {0.5, grey(0.86)},
            {mid, grey(0.90)}, {0.98, grey(0.93)}, {1.0, grey(0.96)}};
}

}  // namespace

ShadeButtonCell::ShadeButtonCell() = default;

void ShadeButtonCell::drawBezelWithFrame(const QRectF& frame, QPainter& painter) const
{
    painter.setRenderHint(QPainter::Antialiasing, true);

    // Fill: the shade runs from the bottom edge (first stop) up to the top.
    painter.save();
    QPainterPath fillPath = roundedInset(frame, 2.0);
    painter.setClipPath(fillPath);
    QRectF bounds = fillPath.boundingRect();
    QLinearGradient shade(bounds.bottomLeft(), bounds.topLeft());
    shade.setStops(shadeStops(_Highlight));
    painter.fillRect(bounds, shade);
    painter.restore();

    // Outer dark line.
    painter.save();
    painter.setPen(QPen(grey(0.12), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(roundedInset(frame, 1.5));
    painter.restore();

    // Inner light line.
    painter.save();
    painter.setPen(QPen(grey(1.0, 0.05), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(roundedInset(frame, 2.5));
    painter.restore();

    // Pressed: darken everything inside the fill shape.
    if (m_pressed) {
        painter.save();
        painter.setClipPath(roundedInset(frame, 2.0));
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.fillRect(frame, grey(0.0, 0.35));
        painter.restore();
    }
}
