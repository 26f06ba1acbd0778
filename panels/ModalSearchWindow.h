#pragma once
#include <QDialog>
#include <cstdint>

class QDateTime;

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
    // Ends the run to play from the picked time (Play).
    static void endModalAt(QWidget* panel, const QDateTime& picked);

    // A picker's local date and time in the recorder's time base, and back.
    static uint32_t recorderTime(const QDateTime& picked);
    static QDateTime pickerTime(uint32_t t);

    // Closing the window (or Escape) cancels the search.
    void reject() override;

private:
    void setContent(QWidget* panel);
    void takeContent(QWidget* panel);

    QVBoxLayout* m_layout;
};
