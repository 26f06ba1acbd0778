#pragma once
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

class AppController;
class QWidget;
class dvrList;
namespace Ui {
class VESK_IPSet;
}

// The site editor: the fields of one site and the Add / Update / Delete
// buttons that hand it to the controller's site book.
class IPSetViewController : public QObject {
    Q_OBJECT

public:
    // The deployment's DDNS server, by address and by host name.
    static constexpr const char* kDefaultDDNSAddress = "203.0.113.80";
    static constexpr const char* kDefaultDDNSHost = "ddns.vesk.example";

    explicit IPSetViewController(QObject* parent = nullptr);
    ~IPSetViewController() override;

    // The editor's panel; whoever shows it may reparent it.
    QWidget* view() const { return m_view; }
    void setMainCtrlPointer(AppController* ctrl) { m_mainControler = ctrl; }
    // Shows a site; the DDNS id set here does not fill the DDNS fields.
    void setDVRInfo(const dvrList& record);

    // The buttons' actions.
    void AddDVR();
    void UpdateDVR();
    void DeleteDVR();

private:
    void awakeFromNib();
    void controlTextDidChange(const QString& ddnsId);
    void comboBoxSelectionDidChange();
    std::shared_ptr<dvrList> recordFromFields() const;
    int selectedModel() const;
    void warn(const QString& text) const;
    bool portsValid(const dvrList& r) const;

    std::unique_ptr<Ui::VESK_IPSet> m_ui;
    QPointer<QWidget> m_view;
    AppController* m_mainControler = nullptr;
};
