#pragma once
#include <QAbstractButton>
#include <QColor>
#include <QPointer>
#include <functional>

// A coloured cell of the calendar search: shows the colour the panel gives
// it and tells the panel at once when pressed. It looks disabled but still
// takes clicks, and never lets the user change its colour.
class MyColorWell : public QAbstractButton {
    Q_OBJECT

public:
    explicit MyColorWell(QWidget* parent = nullptr);

    void setColor(const QColor& c);
    QColor color() const { return m_color; }
    void setTag(int tag) { m_tag = tag; }
    int tag() const { return m_tag; }

    // Receiver of presses: action runs with this cell while target lives.
    void setTarget(QObject* target) { targetParent = target; }
    void setAction(std::function<void(MyColorWell*)> action) { actionParent = std::move(action); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QPointer<QObject> targetParent;
    std::function<void(MyColorWell*)> actionParent;
    QColor m_color = Qt::white;
    int m_tag = 0;
};
