#pragma once
// The recorder's view of the command payloads: model groups, the payload
// sizes a client expects for each command the recorder sends, the sizes of
// the client's requests, and builders for every answer the recorder sends.

#include <cstdint>
#include <string>
#include <vector>

#include "recorder/Wire.h"

namespace testrec {

// Model group of a reported model id (0 for ids the client does not know).
int modelGroup(int modelId);

// True for the groups whose search records use the HDHL forms.
bool usesHdhlForms(int group);

// Payload length the client reads for a command the recorder sends; -1 for
// the connect answer (its length is the rest of the read).
int answerPayloadSize(uint32_t cmd, int group, int modelId, int version);

// Payload length of a well-formed client request; -1 when not fixed.
int requestPayloadSize(uint32_t cmd, int version);

// Pads with zeros or cuts to the given length.
Bytes fitPayload(Bytes payload, size_t size);

struct DeviceInfo {
    uint32_t modelId = 61;
    int channels = 4;
    int audioChannels = 4;
    int videoStandard = 0;
    int bandwidth = 0;
    int vendor = 0;
    int scrambling = 0;
    int version = 30;
    int hwVersion = 1;
    uint32_t fwVersion = 100;
    std::string webCode = "TESTREC000000001";
    uint32_t titleKind = 0;
    std::vector<std::string> titles;  // ASCII, sent as UTF-16LE; missing ones become "CAM n"
};

Bytes connectAnswer552(const DeviceInfo& d);
Bytes connectAnswer272(const DeviceInfo& d);

// Login request as a client builds it (used to check a received one).
Bytes expectedLoginRequest(const std::string& user, const std::string& password, int version);

Bytes loginAccepted(int version, uint32_t permission, uint32_t covert, uint16_t recording);
Bytes reasonPayload(uint32_t reason);  // 56 bytes, reason in the first word
Bytes echoPayload(int version, uint16_t videoLossMask);

// Search answers. Times are seconds since 1970, wall clock counted as UTC;
// the recorded range is [start, end].
Bytes rangeAnswer(uint32_t start, uint32_t end);
Bytes monthAnswer(uint32_t monthTime, uint32_t start, uint32_t end);
uint32_t monthDayMask(uint32_t monthTime, uint32_t start, uint32_t end);
// Day answer: the day's time, its slot (day of the month - 1) and its map,
// as long as the client reads for the group. An 11,620-byte map (groups 0,
// 1, 8, 9, 10, 11 and 12) is the HDHL form, a 17,380-byte one (group 7) the
// H form; group 2 sends the first 14,452 bytes of the H form.
Bytes dayAnswer(int group, int modelId, int version, uint32_t dayTime, uint32_t start, uint32_t end,
                int channels);

enum class HistoryStatus : uint32_t { Empty = 0, End = 1, Normal = 2, Busy = 3 };

// One event-log page of the group's form with `items` items (fewer when the
// page cannot hold them), the search's items firstItem onwards: item n lies
// at dayStart + (n + 1) * 10 minutes and takes its kind from a fixed list
// covering the item kinds (H: motion, sensor, power on, unattended, museum,
// video on/loss, setup changes, network, emergency, an unnamed type; HDHL:
// named events, DEL and DST entries, UTF-8 and broken texts).
Bytes historyPage(int group, int modelId, int version, HistoryStatus status, uint32_t dayStart, int firstItem,
                  int items);

}  // namespace testrec
