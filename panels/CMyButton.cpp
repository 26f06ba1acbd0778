#include "panels/CMyButton.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

CMyButton::CMyButton(QWidget* parent) : QPushButton(parent)
{
    connect(this, &QAbstractButton::pressed, this, &CMyButton::beginHold);
    connect(this, &QAbstractButton::released, this, &CMyButton::endHold);
    connect(&m_holdTimer, &QTimer::timeout, this, &CMyButton::repeatHold);
}

CMyButton::~CMyButton() = default;

void CMyButton::setPTZInit(CNetwork* link, int8_t cmdDown, int8_t cmdUp)
{
    m_netSource = link;
    m_cmdDown = cmdDown;
    m_cmdUp = cmdUp;
    setCheckable(true);
}

void CMyButton::setHighlight(bool on)
{
    m_cell.setHighlight(on);
    update();
}

void CMyButton::setContinuous(bool on)
{
    m_continuous = on;
    if (!on)
        m_holdTimer.stop();
}

void CMyButton::setPeriodicDelay(int delayMs, int intervalMs)
{
    m_delayMs = delayMs;
    m_intervalMs = intervalMs;
}

void CMyButton::beginHold()
{
    if (!m_continuous)
        return;
    m_state = 1;
    m_holdTimer.start(m_delayMs);
    emit action(this);
}

void CMyButton::repeatHold()
{
    if (!isDown()) {
        endHold();
        return;
    }
    m_holdTimer.setInterval(m_intervalMs);
    m_state = 1;
    emit action(this);
}

void CMyButton::endHold()
{
    if (!m_continuous)
        return;
    m_holdTimer.stop();
    m_state = 0;
    emit action(this);
}

void CMyButton::cancelHold()
{
    m_holdTimer.stop();
    m_state = 1;
}

// The release goes on to the button so that it still clicks. A hold let go
// off the button comes up without a released signal: it ends here.
void CMyButton::mouseReleaseEvent(QMouseEvent* e)
{
    m_cell.setBackgroundColor(Qt::red);
    QPushButton::mouseReleaseEvent(e);
    if (m_continuous && m_holdTimer.isActive() && !isDown())
        endHold();
}

// A hold button hidden while down would never see its release: end the hold
// here so that whatever it started is stopped.
void CMyButton::hideEvent(QHideEvent* e)
{
    if (m_continuous && isDown()) {
        setDown(false);
        endHold();
    }
    QPushButton::hideEvent(e);
}

// Room for the label inside the bezel's lines.
QSize CMyButton::sizeHint() const
{
    QRect text = fontMetrics().boundingRect(QRect(), Qt::AlignCenter, this->text());
    return QPushButton::sizeHint().expandedTo(QSize(text.width() + 16, text.height() + 12));
}

void CMyButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    m_cell.setHighlighted(isDown());
    m_cell.drawBezelWithFrame(QRectF(rect()), p);

    p.setPen(isEnabled() ? QColor(Qt::black) : QColor(128, 128, 128));
    p.setFont(font());
    p.drawText(rect().adjusted(4, 3, -4, -3), Qt::AlignCenter | Qt::TextShowMnemonic, text());

    if (hasFocus()) {
        QStyleOptionFocusRect opt;
        opt.initFrom(this);
        opt.rect = rect().adjusted(4, 4, -4, -4);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &opt, &p, this);
    }
}
