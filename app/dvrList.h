#pragma once
#include <QString>
#include <atomic>

// One site of the site book. A new record has empty strings and zero numbers.
// modelGroup is not stored: the recorder link sets it from its worker thread.
class dvrList {
public:
    dvrList() = default;
    dvrList(const dvrList&) = delete;
    dvrList& operator=(const dvrList&) = delete;

    const QString& nsStrRegName() const { return m_nsStrRegName; }
    int modelNum() const { return m_modelNum; }
    int modelGroup() const { return m_modelGroup.load(); }
    const QString& nsStrDVRID() const { return m_nsStrDVRID; }
    const QString& nsStrDVRPwd() const { return m_nsStrDVRPwd; }
    const QString& nsStrDVRIP() const { return m_nsStrDVRIP; }
    int dvrport() const { return m_dvrport; }
    int bDDNSUSe() const { return m_bDDNSUSe; }
    const QString& nsStrDDNSID() const { return m_nsStrDDNSID; }
    const QString& nsStrDDNSIP() const { return m_nsStrDDNSIP; }
    int ddnsPort() const { return m_ddnsPort; }

    void setNsStrRegName(const QString& v) { m_nsStrRegName = v; }
    void setModelNum(int v) { m_modelNum = v; }
    void setModelGroup(int v) { m_modelGroup.store(v); }
    void setNsStrDVRID(const QString& v) { m_nsStrDVRID = v; }
    void setNsStrDVRPwd(const QString& v) { m_nsStrDVRPwd = v; }
    void setNsStrDVRIP(const QString& v) { m_nsStrDVRIP = v; }
    void setDvrport(int v) { m_dvrport = v; }
    void setBDDNSUSe(int v) { m_bDDNSUSe = v; }
    void setNsStrDDNSID(const QString& v) { m_nsStrDDNSID = v; }
    void setNsStrDDNSIP(const QString& v) { m_nsStrDDNSIP = v; }
    void setDdnsPort(int v) { m_ddnsPort = v; }

private:
    QString m_nsStrRegName;
    int m_modelNum = 0;
    std::atomic<int> m_modelGroup{0};
    QString m_nsStrDVRID;
    QString m_nsStrDVRPwd;
    QString m_nsStrDVRIP;
    int m_dvrport = 0;
    int m_bDDNSUSe = 0;
    QString m_nsStrDDNSID;
    QString m_nsStrDDNSIP;
    int m_ddnsPort = 0;
};
