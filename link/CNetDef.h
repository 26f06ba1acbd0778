#pragma once
#include <cstdint>

// Records and codes shared by the links, the controller and the view.

// Connection values of the connected site.
struct tagTSiteInfo {
    int8_t bUseDDNS = 0;
    int32_t dvrPort = 2000;
    int32_t ddnsPort = 2000;
    char userId[16] = {};
    char userPass[16] = {};
    char dvrip[256] = {};
    char ddnsIp[256] = {};
    char ddnsId[32] = {};
    uint32_t auth_mask = 0;
    uint32_t auth_covert = 0;
    int32_t nModelNum = 0;
};

// What the recorder reported when it accepted the connection.
struct TDvrInfo {
    int32_t group = 0;
    int32_t model = 0;
    int32_t model_org = 0;
    char model_name[32] = {};
    char webcode[18] = {};
    uint16_t nw_ver = 0;
    uint16_t hw_ver = 0;
    uint16_t fw_ver = 0;
    uint16_t vendor = 0;
    uint16_t video_encypt = 0;
    uint16_t maxch = 0;
    uint16_t maxAudioCh = 0;
    uint16_t ntsc_pal = 0;
    uint16_t bandWidth = 0;
    uint16_t title_type = 0;
    char chTitle[16][32] = {};  // UTF-16LE, up to 16 code units each
};

// Per-channel counters of the recorder link.
struct tagNetInfo {
    float fpsPerCh[16];
    float totalFrame;
    uint32_t dropFpsPerCh[16];
    uint32_t ppsPerCh[16];
    uint32_t totalPacket;
    uint32_t ppsMaxPerCh[16];
    uint64_t ppsSumPerCh[16];
    uint64_t ppsSumTotal;
    uint32_t frameCountForSkip[16];
    uint8_t bFirstDecoding[16];
    uint8_t seqnum[16];
    uint32_t cur_audio_time[16];
    int32_t echoCount;
    int32_t echo_totalcnt;
    uint32_t hardErr;
    uint32_t vl;
};

enum EnumSiteModel : int32_t {
    SITE_MODEL_MJPEG = 1,  // second device kind, intra slice video
    SITE_MODEL_DVR = 2,    // recorder protocol, H.264
};

// Link states reported to the view.
enum EnumNetStatus : int32_t {
    NET_DISCONNECTED = 0,
    NET_DDNS_CONNECT_REQ = 1,
    NET_DDNS_SERVER_OK = 2,
    NET_DDNS_SERVER_FAIL = 3,
    NET_DDNS_INFO_OK = 4,
    NET_DDNS_INFO_FAIL = 5,
    NET_CONNECT_REQ = 6,
    NET_CONNECT_OK = 7,
    NET_CONNECT_FAIL = 8,
    NET_LOGIN_OK = 9,
    NET_LOGIN_FAIL = 10,
    NET_MAX_USER = 12,
    NET_WAIT_DATA = 15,
    NET_MODEL_MISMATCH = 16,
    NET_LOGIN_REQ = 17,
    NET_STREAMING = 18,
};

// Answer types of search answers.
enum EnumSearchInfoType : int32_t {
    SEARCH_INFO_DAY = 1,
    SEARCH_INFO_MONTH = 2,
    SEARCH_INFO_FAIL = 3,
    SEARCH_INFO_RANGE = 5,
    SEARCH_INFO_HISTORY = 100,
};

// Request kinds of recording information (command 15).
enum EnumSearchInfoKind : int32_t {
    SEARCH_KIND_DAY = 1,
    SEARCH_KIND_MONTH = 2,
    SEARCH_KIND_RANGE = 3,
};

// User-right bits of the login answer.
enum EnumAuthMask : uint32_t {
    AUTH_SEARCH = 0x04,
    AUTH_PTZ = 0x10,
};

// Camera commands of the PTZ request (command 53).
enum EnumPtzCmd : int32_t {
    PTZ_LEFT = 0,
    PTZ_RIGHT = 1,
    PTZ_UP = 2,
    PTZ_DOWN = 3,
    PTZ_STOP = 5,
    PTZ_AUTO_FOCUS = 5,  // the camera takes the stop code for it
    PTZ_ZOOM_DOWN = 7,
    PTZ_ZOOM_UP = 8,
    PTZ_FOCUS_DOWN = 9,
    PTZ_FOCUS_UP = 10,
    PTZ_PRESET_SET = 17,
    PTZ_PRESET_MOVE = 18,
    PTZ_CAMERA_MENU = 22,
    PTZ_HOME = 23,
    PTZ_MENU_OK = 24,
    PTZ_MENU_CANCEL = 25,
};

enum EnumPlaySpeed : int32_t {
    PLAY_PAUSE = 0,
    PLAY_NORMAL = 1,
    PLAY_MAX = 1024,
    PLAY_LIVE = 1000,
    PLAY_SLOW_2 = 2001,
    PLAY_SLOW_4 = 2002,
    PLAY_SLOW_8 = 2003,
    PLAY_STEP = 3000,
    PLAY_STEP_FORWARD = 3001,
    PLAY_STEP_BACKWARD = 3002,
};
