#pragma once
#include <QDialog>

class QVBoxLayout;

// The search window: runs one search panel modally. The panel ends the run
// with a start time to play from, or 0; closing the window ends it with 0.
class ModalSearchWindow : public QDialog {
    Q_OBJECT

public:
    explicit ModalSearchWindow(QWidget* parent = nullptr);

    // Shows panel as the window's content until the run ends and answers
    // the code it ended with. The panel stays the caller's.
    int runSearch(QWidget* panel);
    // Ends the modal run of the search window holding panel.
    static void endModal(QWidget* panel, int code);

    // Closing the window (or Escape) cancels the search.
    void reject() override;

private:
    void setContent(QWidget* panel);
    void takeContent(QWidget* panel);

    QVBoxLayout* m_layout;
};
