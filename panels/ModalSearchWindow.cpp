#include "panels/ModalSearchWindow.h"

#include <QPointer>
#include <QVBoxLayout>

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
