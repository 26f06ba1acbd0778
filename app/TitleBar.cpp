#include "app/TitleBar.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSurfaceFormat>
#include <QTableWidget>
#include <QVBoxLayout>

#include "output/MyOpenGLView.h"

void TitleBar::prepareApplication()
{
    QSurfaceFormat format;
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setVersion(2, 1);
    QSurfaceFormat::setDefaultFormat(format);
    QCoreApplication::setApplicationName("vesk");
    QCoreApplication::setOrganizationName("vesk");
}

TitleBar::TitleBar(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle("VESK(Version - 2.4.2)");
    auto* central = new QWidget(this);
    auto* outer = new QVBoxLayout(central);
    auto* row = new QHBoxLayout;
    auto* left = new QVBoxLayout;

    m_table = new QTableWidget(0, 1, central);
    m_table->setAccessibleName("Sites");
    m_table->setHorizontalHeaderLabels({"Site"});
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->setVisible(false);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setMinimumWidth(260);

    m_boxMain = new QGroupBox(central);
    m_boxMain->setAccessibleName("Controls");
    m_boxMain->setLayout(new QVBoxLayout);
    m_boxSub = new QGroupBox(central);
    m_boxSub->setAccessibleName("Panel");
    m_boxSub->setLayout(new QVBoxLayout);
    left->addWidget(m_table, 2);
    left->addWidget(m_boxMain);
    left->addWidget(m_boxSub, 3);

    m_view = new MyOpenGLView(central);
    m_view->setAccessibleName("Video");
    m_view->setMinimumSize(640, 480);
    row->addLayout(left);
    row->addWidget(m_view, 1);

    auto* bottom = new QHBoxLayout;
    m_status = new QLabel(central);
    // A label's accessible name is its text, so assistive tools read the
    // connection state itself.
    m_status->setAccessibleDescription("Status");
    m_connect = new QPushButton("Connect", central);
    m_disconnect = new QPushButton("Disconnect", central);
    m_exit = new QPushButton("Exit", central);
    bottom->addWidget(m_status, 1);
    bottom->addWidget(m_connect);
    bottom->addWidget(m_disconnect);
    bottom->addWidget(m_exit);

    outer->addLayout(row, 1);
    outer->addLayout(bottom);
    setCentralWidget(central);
    resize(1280, 800);
}

bool TitleBar::setBoxContent(QGroupBox* box, QWidget* w)
{
    if (!box || !w)
        return false;
    // Ends any text edit in the window before the panel changes.
    if (QWidget* focus = box->window()->focusWidget())
        focus->clearFocus();
    QLayout* layout = box->layout();
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* old = item->widget()) {
            if (old != w)
                old->hide();
        }
        delete item;
    }
    w->setParent(box);
    layout->addWidget(w);
    w->show();
    return true;
}

void TitleBar::closeEvent(QCloseEvent* e)
{
    emit windowWillClose();
    e->accept();
}
