#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// What a link tells the main controller. Called on the link's worker thread;
// implementations copy what they need and must not block on the GUI thread.
class INetController {
public:
    virtual ~INetController() = default;
    virtual void SetModelGroup(uint32_t group) = 0;
    // A search answer: type (EnumSearchInfoType) and two values; for day maps
    // and event-log pages the record bytes come along (a copy is the
    // receiver's to make; data is valid only during the call).
    virtual void SetSearchInfo(int type, int32_t v1, int32_t v2, const uint8_t* data, size_t len) = 0;
    // Whether an answer of this many bytes fits among those still waiting
    // for the GUI thread; a link holds an answer back while it does not.
    virtual bool hasRoomForAnswer(size_t bytes) const { return true; }
    virtual void ShowSearchAlertView() = 0;
    // Status line: a text, a code, a second text and the line's kind
    // (while connecting: address, port, "DVR" or "DDNS", kind 0).
    virtual void DisplayConnectStr(const std::string& text, int code, const std::string& text2, int kind) = 0;
};
