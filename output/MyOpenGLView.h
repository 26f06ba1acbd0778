#pragma once
#include <QDateTime>
#include <QElapsedTimer>
#include <QImage>
#include <QWidget>
#include <QPointF>
#include <QRect>
#include <QSizeF>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/INetView.h"
#include "output/FrameDrain.h"
#include "output/GlyphFont.h"
#include "output/OsdText.h"
#include "output/RingBuffer.h"
#include "output/StatusTable.h"
#include "output/ViewLayout.h"
#include "platform/GuiDisplayLink.h"

class CoNetwork;
class IViewController;
class QMouseEvent;
class QOpenGLContext;
class QOpenGLFunctions_2_1;
class ViewSurface;
class QOpenGLFramebufferObject;
class GuiMailbox;

// The live video view: one channel over the whole view or 2x2, 3x3 and 4x4
// layouts, status pictures while connecting or after a failure, and cell
// markers for channels that do not record or are covert.
//
// Everything here runs on the GUI thread. A link reports through the
// INetView made by makeLinkReporter(), which copies each report and posts it
// to the GUI thread; reports of a link that is no longer attached are dropped.
//
// Frames: a short drain timer takes every ready slot of the video queue,
// uploads drawable pictures into one texture per channel and frees the slot;
// a display-link timer repaints the layout at the screen's refresh rate.
// What changes with each drawn frame (the alarm and time texts of the
// on-screen display) is worked out when the frame is taken, so a repaint
// only draws.
//
// A click on a cell of the split view zooms that channel; a click on the
// zoomed view returns to the split view (MyOpenGLView_Zoom.cpp, with the
// snapshot). The on-screen display is in MyOpenGLView_Osd.cpp, the link's
// reports in MyOpenGLView_Link.cpp and the OpenGL side in
// MyOpenGLView_Draw.cpp.
class MyOpenGLView : public QWidget, private IFrameUploader {
    Q_OBJECT

public:
    // allowRectTextures false forces plain 2D textures.
    explicit MyOpenGLView(QWidget* parent = nullptr, bool allowRectTextures = true);
    ~MyOpenGLView() override;

    // For the controller (GUI thread).
    RingBuffer* getRingBuffer() { return videoQ.get(); }
    // Attaches a link (or none): empties the video queue, stops streaming
    // and makes every reporter made before this call stale.
    void SetNetPointer(CoNetwork* link);
    // A reporter for the link attached now; hand it to that link after
    // SetNetPointer. Safe to use from the link's worker thread, and to
    // outlive the view.
    std::unique_ptr<INetView> makeLinkReporter();
    void SetRegName(const QString& name);
    void SetMainPointer(IViewController* controller);
    void ClearGlView();
    // Zoomed channel 1 to 16, 0 for the split view.
    int getMouseClickCh() const { return m_MouseClickCh; }
    void setM_MouseClickCh(int ch);

    // Link reports, as they arrive on the GUI thread.
    void setNetStatus(int status, const std::string& info);
    void setMaxCH(int maxCh);
    void SetChTitle(const char (&titles)[16][32]);
    void SetCovert(uint16_t mask);
    void SetRecOnOff(uint16_t mask);
    void SetVideoLoss(uint16_t mask);
    void setNetMouseInfo(uint32_t version, int8_t offsetX, int8_t offsetY, uint16_t videoStd);

    // On-screen display groups (EnumDrawOsd 1..5) and the playback label.
    void SetDrawOsd(int8_t code);
    void SetDrawPlayback(int32_t speed);
    // Writes what the view shows as a JPEG file named by the local time into
    // folder (made when missing) and tells the user where, or that it failed.
    void imageFromOpenGLView(const QString& folder);
    // The file a snapshot taken at t goes to: "%Y%m%d_%H%M%S.jpg", or with
    // "_1", "_2", ... before the extension when that name is taken.
    static QString snapshotPath(const QString& folder, const QDateTime& t);
    // Local time for snapshot names; tests replace it.
    std::function<QDateTime()> snapshotClock;
    // Alerts (title, text) go through here; tests replace it.
    std::function<void(const QString& title, const QString& text)> showAlert;
    // Device position of a point in the view, from the second device's
    // pointer values; also kept in m_nsWnd2DVRPos.
    QPointF WndPos2DVRPos(const QPointF& point, const QSizeF& size);

    // One pass of the frame loop: answers the number of slots taken. With no
    // link attached the queue is left alone.
    int drainFrames();

    // Called after each picture reached its channel's texture (benchmarks).
    std::function<void(const tag_FrameV_Orgin&)> onUpload;

    // Read-outs.
    CoNetwork* netPointer() const { return netSource; }
    bool isStreaming() const { return m_bDrawStreaming; }
    int currentNetStatus() const { return m_CurrentNetStatus; }
    int maxCh() const { return m_MaxCh; }
    uint16_t recOnOff() const { return m_recOnOff; }
    uint16_t covert() const { return m_Covert; }
    uint16_t videoLoss() const { return _videoLoss; }
    QString regName() const { return _strRegName; }
    QString chTitle(int ch) const;
    const FrameDrain& frames() const { return m_drain; }
    bool hasGl() const { return m_gl != nullptr; }
    bool usesRectTextures() const { return m_rectTextures; }
    int32_t playbackSpeed() const { return playSpeed; }
    bool drawsOsdTime() const { return _drawOsdTime; }
    bool drawsOsdEvent() const { return _drawOsdEvent; }
    bool drawsOsdFPS() const { return _drawOsdFPS; }
    std::string eventText(int ch) const;

    // What the view shows now, rendered again at device pixels.
    QImage grabFramebuffer();

signals:
    // A repaint reached the screen.
    void frameSwapped();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    friend class ViewLinkReporter;
    friend class ViewSurface;

    // The drawing surface's calls.
    void prepareOpenGL();
    void reshape(int w, int h);
    void drawRect();
    // Everything a repaint draws, into the framebuffer bound now.
    void drawFrame();
    void requestPaint();
    void makeCurrent();
    void doneCurrent();
    QOpenGLContext* context() const;

    struct Texture {
        unsigned id = 0;
        int w = 0;
        int h = 0;
        int allocW = 0;
        int allocH = 0;
        bool valid = false;
    };

    bool acceptsReport(uint64_t epoch) const { return epoch == m_linkEpoch && netSource; }
    void onRefresh();
    DrawRule drawRule() const;
    bool showsVideo() const { return m_bDrawStreaming || m_bVideoShown; }
    void forgetPictures();
    void forgetUndrawnPictures();

    // GL side.
    void uploadFrame(const tag_FrameV_Orgin& frame) override;
    void chooseTextureKind();
    void loadStatusTextures();
    bool uploadTexture(Texture& t, const void* pixels, int w, int h);
    void releaseGl();
    void beginQuads();
    void drawQuad(const Texture& t, int side, int cell);
    void drawPicture(int slot, int side, int cell);
    void paintVideoLayout();
    bool paintChannel(int ch, int side, int cell, bool markers);

    // On-screen display.
    void buildFont();
    void KillFont();
    void CalculateFontSize() { _Fontindex = 3; }
    // First display list of the glyph set of a font index, 0 when not built.
    unsigned glyphListBase(int fontIndex) const;
    // Pixel size of the glyph set of a font index.
    static int glyphPixels(int fontIndex);
    // Extents of the glyph set of a font index, as built.
    const GlyphSetSize& glyphSize(int fontIndex) const;
    void takeOsdFrame(int ch);
    void drawOsd(int ch);
    // The text of the cells drawn by this repaint, from the cached layer.
    void paintOsdLayer(int side);
    std::string osdKey(int ch) const;
    void releaseOsdLayer();
    // Raster position of an item of channel ch whose text is textWidth
    // pixels wide, moved inside the channel's cell of the text layer.
    bool itemPlace(OsdText::Item item, int ch, int textWidth, float* x, float* y) const;
    // Draws the text at the item's place in its colour.
    void printItem(OsdText::Item item, const std::vector<uint16_t>& codes);
    void glPrint(const std::vector<uint16_t>& codes, int fontIndex);
    void drawTime();
    void drawVideoType();
    void drawRegName();
    void drawChTitle();
    void drawPlaybackControl();
    void drawAlarm();
    void drawResolution();
    void drawFramePerCh();

    // Zoom click and snapshot.
    void mouseDown(const QPointF& pos);
    bool writeSnapshot(const QString& path, QString* error);

    ViewSurface* m_surface = nullptr;
    unsigned m_drawTarget = 0;  // framebuffer a repaint draws into
    IViewController* _pMain = nullptr;
    CoNetwork* netSource = nullptr;
    std::unique_ptr<RingBuffer> videoQ;
    // Where link reporters leave their reports for the GUI thread.
    std::shared_ptr<GuiMailbox> m_mailbox;
    uint64_t m_linkEpoch = 0;
    FrameDrain m_drain;
    GuiDisplayLink displayLink;
    // Takes pictures without drawing them (a view that cannot paint).
    struct NoUpload : IFrameUploader {
        void uploadFrame(const tag_FrameV_Orgin&) override {}
    } m_noUpload;

    int m_MaxCh = 1;
    int m_MouseClickCh = 0;
    bool m_bDrawStreaming = false;
    bool m_bVideoShown = false;  // a frame was drawn since the last status picture
    bool m_bLinkFailed = false;  // the attached link reported a failure
    bool m_bBlank = false;       // cleared to black until something is drawn
    bool m_dirty = false;        // repaint at the next refresh
    QElapsedTimer m_lastPaintRequest;
    int m_CurrentNetStatus = 0;
    uint16_t m_recOnOff = 0;
    uint16_t m_Covert = 0;
    uint16_t _videoLoss = 0;
    QRect _rectGLView;
    QString _strRegName;
    QString _strChTitle[ViewLayout::kMaxChannels];

    QOpenGLFunctions_2_1* m_gl = nullptr;
    bool m_allowRectTextures = true;
    bool m_rectTextures = false;
    bool m_npotTextures = false;
    unsigned m_texTarget = 0;
    int m_maxTexSize = 0;
    bool m_uploadCurrent = false;
    QMetaObject::Connection m_contextGone;
    int m_lastDrawnCh = -1;
    Texture m_chTex[ViewLayout::kMaxChannels];
    Texture texIds[StatusTable::kPictureCount];

    // On-screen display: first list of the 19, 15, 11 and 30 pixel sets.
    unsigned _baseFont4 = 0;
    unsigned _baseFont9 = 0;
    unsigned _baseFont16 = 0;
    unsigned _baseFont1 = 0;
    GlyphSetSize m_glyphSize[4];  // by font index - 1
    int _Fontindex = 0;
    int _ch = 0;
    bool _drawOsdTime = true;
    bool _drawOsdEvent = true;
    bool _drawOsdFPS = true;
    int32_t playSpeed = 1;
    std::string _strTime[ViewLayout::kMaxChannels];
    std::string _strEvent[ViewLayout::kMaxChannels];
    // The text is drawn into a layer of the view's size and redrawn only in
    // the cells whose text changed; each repaint puts the layer over the
    // pictures with one quad. Cells are indexed as in the layout.
    std::unique_ptr<QOpenGLFramebufferObject> m_osdLayer;
    std::string m_osdLayout;
    std::string m_osdCellKey[ViewLayout::kMaxChannels];
    int m_osdCellCh[ViewLayout::kMaxChannels];
    bool m_osdCellDrawn[ViewLayout::kMaxChannels] = {};

    // Second device pointer values.
    uint32_t m_uiNetworkVer = 0;
    int8_t m_moveOffsetX = 0;
    int8_t m_moveOffsetY = 0;
    uint16_t m_VideoStd = 0;
    QPointF m_nsWnd2DVRPos;
};
