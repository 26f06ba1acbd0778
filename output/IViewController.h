#pragma once
#include <cstdint>
#include <string>

// Kinds of status-line texts (DisplayConnectStr).
enum EnumConnectStrKind : int {
    CONNECT_STR_CONNECTING = 0,    // address, port and "DVR" or "DDNS"
    CONNECT_STR_LOGIN_FAIL = 1,    // code: the login refusal reason
    CONNECT_STR_CONNECTED = 2,
    CONNECT_STR_DISCONNECTED = 3,
    // The current connection's progress text again (the last one its link
    // sent, or the site's own address before that): the link is on its way
    // to pictures or waits for them.
    CONNECT_STR_PROGRESS = 4,
};

// What the video view asks of the main controller. Always called on the
// GUI thread.
class IViewController {
public:
    virtual ~IViewController() = default;
    // Status line; the view passes empty texts, a code and a kind.
    virtual void DisplayConnectStr(const std::string& text, int code, const std::string& text2, int kind) = 0;
    // 0: disconnected button state, otherwise connected.
    virtual void SetButtonStatus(int status) = 0;
    // Audio channel 1 to 4, 0 for off.
    virtual void RequestAudio(int8_t ch) = 0;
    // Live channel 1 to 16, 0 for all channels.
    virtual void RequestLiveCh(int32_t ch) = 0;
};
