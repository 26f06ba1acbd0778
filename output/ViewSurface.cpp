#include "output/ViewSurface.h"

#include <QMouseEvent>

#include "output/MyOpenGLView.h"

ViewSurface::ViewSurface(MyOpenGLView* view) : QOpenGLWindow(QOpenGLWindow::NoPartialUpdate), m_view(view) {}

void ViewSurface::initializeGL()
{
    m_view->prepareOpenGL();
}

void ViewSurface::resizeGL(int w, int h)
{
    m_view->reshape(w, h);
}

void ViewSurface::paintGL()
{
    m_view->drawRect();
}

void ViewSurface::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_view->mouseDown(event->position());
    event->accept();
}
