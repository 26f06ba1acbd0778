#include "app/dvrList.h"

void dvrList::setNsStrDVRID(const QString& v)
{
    if (v != m_nsStrDVRID) {
        m_undecipheredDVRID.clear();
        m_rawDVRID.clear();
    }
    m_nsStrDVRID = v;
}

void dvrList::setNsStrDVRPwd(const QString& v)
{
    if (v != m_nsStrDVRPwd) {
        m_undecipheredDVRPwd.clear();
        m_rawDVRPwd.clear();
    }
    m_nsStrDVRPwd = v;
}
