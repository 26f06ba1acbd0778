#include "panels/ModalSearchWindow.h"

#include <QDateTime>
#include <QPointer>
#include <QVBoxLayout>

#include "link/NxLib.h"
#include "platform/Log.h"

ModalSearchWindow::ModalSearchWindow(QWidget* parent) : QDialog(parent), m_layout(new QVBoxLayout(this))
{
    setWindowTitle(QStringLiteral("Search"));
    setModal(true);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSizeConstraint(QLayout::SetFixedSize);
}

int ModalSearchWindow::runSearch(QWidget* panel)
{
    if (!panel)
        return 0;
    QPointer<QWidget> guard(panel);
    setContent(panel);
    int code = exec();
    if (guard)
        takeContent(panel);
    return code;
}

void ModalSearchWindow::endModal(QWidget* panel, int code)
{
    if (!panel)
        return;
    if (auto* window = qobject_cast<QDialog*>(panel->window()))
        window->done(code);
}

void ModalSearchWindow::endModalAt(QWidget* panel, const QDateTime& picked)
{
    endModal(panel, int32_t(recorderTime(picked)));
}

uint32_t ModalSearchWindow::recorderTime(const QDateTime& picked)
{
    const QDate date = picked.date();
    const QTime time = picked.time();
    return mktime2(uint32_t(date.year()), uint32_t(date.month()), uint32_t(date.day()), uint32_t(time.hour()),
                   uint32_t(time.minute()), uint32_t(time.second()));
}

QDateTime ModalSearchWindow::pickerTime(uint32_t t)
{
    tm_t tm{};
    to_tm(t, &tm);
    return QDateTime(QDate(tm.year, tm.mon, tm.mday), QTime(tm.hour, tm.min, tm.sec), Qt::LocalTime);
}

void ModalSearchWindow::reject()
{
    vlog("modal windowWillClose\n");
    done(0);
}

void ModalSearchWindow::setContent(QWidget* panel)
{
    m_layout->addWidget(panel);
    panel->show();
}

void ModalSearchWindow::takeContent(QWidget* panel)
{
    m_layout->removeWidget(panel);
    panel->hide();
    panel->setParent(nullptr);
}
