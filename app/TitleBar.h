#pragma once
#include <QMainWindow>

class QGroupBox;
class QLabel;
class QPushButton;
class QTableWidget;
class MyOpenGLView;

// The main window: site table, control bar box, sub-panel box, video view,
// status line and the Connect / Disconnect / Exit buttons.
class TitleBar : public QMainWindow {
    Q_OBJECT

public:
    explicit TitleBar(QWidget* parent = nullptr);

    QTableWidget* tableView() const { return m_table; }
    QGroupBox* boxMainMenu() const { return m_boxMain; }
    QGroupBox* boxSubMenu() const { return m_boxSub; }
    MyOpenGLView* mainGLView() const { return m_view; }
    QLabel* netStatus() const { return m_status; }
    QPushButton* btnConnect() const { return m_connect; }
    QPushButton* btnDisconnect() const { return m_disconnect; }
    QPushButton* btnExit() const { return m_exit; }

    // Makes w the only content of the box; answers false when the window
    // refuses to end a text edit first.
    static bool setBoxContent(QGroupBox* box, QWidget* w);
    // What the application sets before its QApplication exists: the OpenGL
    // profile the video view draws with and the names its settings use.
    static void prepareApplication();

signals:
    void windowWillClose();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    QTableWidget* m_table;
    QGroupBox* m_boxMain;
    QGroupBox* m_boxSub;
    MyOpenGLView* m_view;
    QLabel* m_status;
    QPushButton* m_connect;
    QPushButton* m_disconnect;
    QPushButton* m_exit;
};
