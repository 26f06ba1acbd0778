#pragma once
#include <QPushButton>
#include <QTimer>
#include <cstdint>

#include "panels/ShadeButtonCell.h"

class CNetwork;

// The panels' push button: drawn with a ShadeButtonCell bezel, able to show
// the current choice (setHighlight), to carry a second-device link with a
// press and a release key code, and to work as a hold button.
//
// Hold button (setContinuous): the action signal goes out when the button
// is pressed, again every interval while it stays down, and once more when
// the hold ends (released, dragged off, hidden); state() is 1 while held and
// 0 for the release.
class CMyButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(int tag READ tag WRITE setTag)

public:
    explicit CMyButton(QWidget* parent = nullptr);
    ~CMyButton() override;

    // Stores the link and the two key codes and makes this an on/off button.
    void setPTZInit(CNetwork* link, int8_t cmdDown, int8_t cmdUp);
    CNetwork* netSource() const { return m_netSource; }
    int8_t cmdDown() const { return m_cmdDown; }
    int8_t cmdUp() const { return m_cmdUp; }

    // Bluish bezel for the current choice; repaints.
    void setHighlight(bool on);
    ShadeButtonCell* cell() { return &m_cell; }
    const ShadeButtonCell* cell() const { return &m_cell; }

    QSize sizeHint() const override;

    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

    void setContinuous(bool on);
    bool isContinuous() const { return m_continuous; }
    // First repeat after delayMs, then every intervalMs.
    void setPeriodicDelay(int delayMs, int intervalMs);
    int state() const { return m_state; }
    void setState(int state) { m_state = state; }
    // Ends a hold without its release action: no more repeats, state 1.
    void cancelHold();

signals:
    // A hold button's action; read state() for held (1) or released (0).
    void action(CMyButton* sender);

protected:
    void paintEvent(QPaintEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    void beginHold();
    void repeatHold();
    void endHold();

    CNetwork* m_netSource = nullptr;
    int8_t m_cmdDown = 0;
    int8_t m_cmdUp = 0;
    ShadeButtonCell m_cell;
    int m_tag = 0;
    bool m_continuous = false;
    int m_state = 1;
    int m_delayMs = 400;
    int m_intervalMs = 75;
    QTimer m_holdTimer;
};
