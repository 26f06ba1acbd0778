#pragma once
#include <QOpenGLWindow>

class MyOpenGLView;

// The native window the video view draws into. It renders straight to its
// own window, so a repaint costs no second pass through the widget
// window's compositor. Everything it gets is handed to the view.
class ViewSurface final : public QOpenGLWindow {
    Q_OBJECT

public:
    explicit ViewSurface(MyOpenGLView* view);

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    MyOpenGLView* m_view;
};
