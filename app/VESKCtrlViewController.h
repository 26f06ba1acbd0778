#pragma once
#include <QObject>
#include <QPointer>
#include <memory>

class GuiMailbox;
class IControlBarTarget;
class QWidget;
namespace Ui {
class VESKView;
}

// The control bar: Display, Capture, Folder, Search, PTZ and Audio. All but
// Folder are usable only while a site is connected.
class VESKCtrlViewController : public QObject {
    Q_OBJECT

public:
    explicit VESKCtrlViewController(QObject* parent = nullptr);
    ~VESKCtrlViewController() override;

    // The bar's panel; whoever shows it may reparent it.
    QWidget* view() const { return m_view; }
    void SetMainController(IControlBarTarget* ctrl) { m_pMainController = ctrl; }
    // Non-zero enables the five connection buttons, 0 disables them. May be
    // called from any thread; the buttons change on the GUI thread, to the
    // newest status given.
    void SetButtonStatus(int status);

    // The buttons' actions.
    void OnButtonDisplay();
    void OnButtonCapture();
    void OnButtonFolder();
    void OnButtonSearch();
    void OnButtonPTZ();
    void OnButtonAudio();

private:
    void awakeFromNib();
    void applyButtonStatus(bool enabled);

    IControlBarTarget* m_pMainController = nullptr;
    std::unique_ptr<Ui::VESKView> m_ui;
    QPointer<QWidget> m_view;
    std::unique_ptr<GuiMailbox> m_mailbox;  // statuses from other threads
};
