#include "output/StatusTable.h"

#include "output/IViewController.h"

namespace StatusTable {
namespace {

const char* const kNames[kPictureCount] = {
    "0_Dvr_Disconn",    "1_DDNS_Con_Req",   "2_DDNS_Svr_Con_Ok", "3_DDNS_DVR_Fail",
    "4_DDNS_Info_Req",  "5_DDNS_Info_Fail", "6_Connect_Request", "8_Login_req",
    "7_Con_Fail_NetErr", "8_Login_req",     "10_Login_success",  "9_PassError",
    "MaxUser",          "11_Wait_data",     "Model_Mis",         "blueScreen",
    "REC_OFF",          "Covert",
};

struct Row {
    int picture;
    int lineKind;
    bool buttonsOff;
};

constexpr int kStates = 19;
constexpr int kIgnored = -2;

// Indexed by state 0..18; kIgnored marks states that do nothing.
const Row kRows[kStates] = {
    {0, CONNECT_STR_DISCONNECTED, false},   // 0 no connection
    {1, CONNECT_STR_PROGRESS, false},       // 1 DDNS lookup started
    {2, CONNECT_STR_PROGRESS, false},       // 2 DDNS server reached
    {3, -1, true},                          // 3 DDNS server failed
    {4, CONNECT_STR_PROGRESS, false},       // 4 address from DDNS
    {5, -1, true},                          // 5 no address from DDNS
    {6, CONNECT_STR_PROGRESS, false},       // 6 connecting
    {7, CONNECT_STR_PROGRESS, false},       // 7 connected
    {8, -1, true},                          // 8 connection failed
    {10, CONNECT_STR_PROGRESS, false},      // 9 login accepted
    {11, CONNECT_STR_LOGIN_FAIL, true},     // 10 login refused
    {kIgnored, -1, false},                  // 11
    {12, -1, true},                         // 12 too many users
    {kIgnored, -1, false},                  // 13
    {kIgnored, -1, false},                  // 14
    {13, CONNECT_STR_PROGRESS, false},      // 15 waiting for data
    {14, -1, true},                         // 16 model mismatch
    {9, CONNECT_STR_PROGRESS, false},       // 17 login request sent
    {-1, CONNECT_STR_CONNECTED, false},     // 18 first whole frame
};

}  // namespace

bool actionFor(int state, Action* out)
{
    if (state < 0 || state >= kStates || kRows[state].picture == kIgnored || !out)
        return false;
    const Row& r = kRows[state];
    out->picture = r.picture;
    out->lineKind = r.lineKind;
    out->buttonsOff = r.buttonsOff;
    out->streaming = state == 18;
    return true;
}

const char* pictureName(int slot)
{
    return slot >= 0 && slot < kPictureCount ? kNames[slot] : "";
}

}  // namespace StatusTable
