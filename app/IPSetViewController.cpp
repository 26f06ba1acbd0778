#include "app/IPSetViewController.h"

#include <QWidget>
#include <algorithm>
#include <climits>

#include "app/AppController.h"
#include "app/dvrList.h"
#include "link/CNetDef.h"
#include "platform/Log.h"
#include "ui_VESK_IPSet.h"

namespace {

// Combo item of each site model: "MJPEG" then "DVR".
constexpr int kItemMJPEG = 0;
constexpr int kItemDVR = 1;

// Integer value of a typed number: optional sign and leading digits after
// blanks, 0 when there are none; out-of-range values are clamped.
int intValue(const QString& text)
{
    const QString t = text.trimmed();
    int i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
        negative = t[i++] == '-';
    long long v = 0;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i)
        v = std::min<long long>(v * 10 + (t[i].unicode() - '0'), 1LL + INT_MAX);
    v = negative ? -v : v;
    return int(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

struct DdnsServerRule {
    char first;
    bool byHostName;
    int port;
};

// Checked in order; the first match decides.
constexpr DdnsServerRule kDdnsRules[] = {
    {'h', false, 2400}, {'d', false, 2500}, {'l', false, 2600}, {'g', false, 2000},
    {'0', false, 3000}, {'a', true, 17000}, {'f', true, 17000}, {'s', true, 17000},
};

}  // namespace

IPSetViewController::IPSetViewController(QObject* parent)
    : QObject(parent), m_ui(std::make_unique<Ui::VESK_IPSet>()), m_view(new QWidget)
{
    m_ui->setupUi(m_view);
    awakeFromNib();
    connect(m_ui->ddnsId, &QLineEdit::textEdited, this, &IPSetViewController::controlTextDidChange);
    connect(m_ui->model, &QComboBox::activated, this, &IPSetViewController::comboBoxSelectionDidChange);
    connect(m_ui->addButton, &QPushButton::clicked, this, &IPSetViewController::AddDVR);
    connect(m_ui->updateButton, &QPushButton::clicked, this, &IPSetViewController::UpdateDVR);
    connect(m_ui->deleteButton, &QPushButton::clicked, this, &IPSetViewController::DeleteDVR);
}

IPSetViewController::~IPSetViewController()
{
    delete m_view.data();
}

void IPSetViewController::awakeFromNib()
{
    m_ui->model->addItem(QStringLiteral("MJPEG"));
    m_ui->model->addItem(QStringLiteral("DVR"));
    m_ui->model->setCurrentIndex(kItemDVR);
    m_ui->ddnsUse->setChecked(false);
    m_ui->ddnsIp->setText(QString::fromLatin1(kDefaultDDNSAddress));
    m_ui->dvrPort->setText(QStringLiteral("3000"));
    m_ui->dvrPassword->setEchoMode(QLineEdit::Password);
}

void IPSetViewController::setDVRInfo(const dvrList& record)
{
    m_ui->regName->setText(record.nsStrRegName());
    m_ui->dvrId->setText(record.nsStrDVRID());
    m_ui->dvrPassword->setText(record.nsStrDVRPwd());
    m_ui->dvrIp->setText(record.nsStrDVRIP());
    m_ui->dvrPort->setText(QString::number(record.dvrport()));
    // A model with no item shows as "DVR", the model the editor then stores.
    const bool known = record.modelNum() == SITE_MODEL_MJPEG || record.modelNum() == SITE_MODEL_DVR;
    m_ui->model->setCurrentIndex(known ? record.modelNum() - 1 : kItemDVR);
    m_ui->ddnsIp->setText(record.nsStrDDNSIP());
    m_ui->ddnsPort->setText(record.ddnsPort() != 0 ? QString::number(record.ddnsPort()) : QString());
    m_ui->ddnsId->setText(record.nsStrDDNSID());
    m_ui->ddnsUse->setChecked(record.bDDNSUSe() != 0);
}

// Fills the DDNS server and port from the first character of the DDNS id.
void IPSetViewController::controlTextDidChange(const QString& ddnsId)
{
    const QChar first = ddnsId.isEmpty() ? QChar() : ddnsId.at(0).toLower();
    for (const DdnsServerRule& rule : kDdnsRules) {
        if (first != QLatin1Char(rule.first))
            continue;
        m_ui->ddnsIp->setText(QString::fromLatin1(rule.byHostName ? kDefaultDDNSHost : kDefaultDDNSAddress));
        m_ui->ddnsPort->setText(QString::number(rule.port));
        return;
    }
    m_ui->ddnsPort->clear();
}

void IPSetViewController::comboBoxSelectionDidChange()
{
    vlog("combo didchange");
}

int IPSetViewController::selectedModel() const
{
    return m_ui->model->currentIndex() == kItemMJPEG ? SITE_MODEL_MJPEG : SITE_MODEL_DVR;
}

std::shared_ptr<dvrList> IPSetViewController::recordFromFields() const
{
    auto r = std::make_shared<dvrList>();
    r->setNsStrRegName(m_ui->regName->text());
    r->setModelNum(selectedModel());
    r->setNsStrDVRID(m_ui->dvrId->text());
    r->setNsStrDVRPwd(m_ui->dvrPassword->text());
    r->setNsStrDVRIP(m_ui->dvrIp->text());
    r->setDvrport(intValue(m_ui->dvrPort->text()));
    r->setBDDNSUSe(m_ui->ddnsUse->isChecked() ? 1 : 0);
    r->setNsStrDDNSID(m_ui->ddnsId->text());
    r->setNsStrDDNSIP(m_ui->ddnsIp->text());
    r->setDdnsPort(intValue(m_ui->ddnsPort->text()));
    return r;
}

void IPSetViewController::warn(const QString& text) const
{
    if (m_mainControler && m_mainControler->showAlert)
        m_mainControler->showAlert(QStringLiteral("Warning"), text);
}

// A port the link could not use is refused here rather than cut to 16 bits.
// An empty DDNS port (0) stays allowed: it is filled from the DDNS id.
bool IPSetViewController::portsValid(const dvrList& r) const
{
    if (r.dvrport() >= 1 && r.dvrport() <= 65535 && r.ddnsPort() >= 0 && r.ddnsPort() <= 65535)
        return true;
    warn(QStringLiteral("Input Port (1 - 65535)"));
    return false;
}

void IPSetViewController::AddDVR()
{
    if (!m_mainControler)
        return;
    std::shared_ptr<dvrList> record = recordFromFields();
    if (record->nsStrDDNSIP().isEmpty())
        record->setNsStrDDNSIP(QString::fromLatin1(kDefaultDDNSAddress));
    if (record->nsStrRegName().isEmpty()) {
        warn(QStringLiteral("Input RegName"));
        return;
    }
    if (portsValid(*record))
        m_mainControler->AddDVR(std::move(record));
}

void IPSetViewController::UpdateDVR()
{
    if (!m_mainControler)
        return;
    std::shared_ptr<dvrList> record = recordFromFields();
    if (portsValid(*record))
        m_mainControler->UpdateDVR(*record);
}

void IPSetViewController::DeleteDVR()
{
    if (m_mainControler)
        m_mainControler->DeleteDVR();
}
