// The video view's click to zoom a channel, its snapshot, and the pointer
// values the second device's link reports.
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QMessageBox>
#include <QMouseEvent>
#include <QSaveFile>

#include "output/IViewController.h"
#include "output/MyOpenGLView.h"
#include "platform/Log.h"

namespace {

// The encoder's best quality.
constexpr int kJpegQuality = 100;
// Numbered names tried when snapshots come faster than one a second.
constexpr int kMaxSameSecond = 999;

}  // namespace

// ---- zoom click

void MyOpenGLView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    mouseDown(event->position());
}

// A click on a cell of the split view zooms its channel and asks for its
// live video and, for cells 1 to 4, its audio; any click on the zoomed view
// returns to all channels with audio off.
void MyOpenGLView::mouseDown(const QPointF& pos)
{
    if (!m_bDrawStreaming)
        return;
    const int h = height();
    // Whole pixels counted from the bottom give the distance from the top.
    const double d = double(h) - double(int(double(h) - pos.y()));
    int audioCh = 0;
    if (m_MouseClickCh != 0) {
        setM_MouseClickCh(0);
    } else {
        int cell = ViewLayout::clickedCell(m_MaxCh, width(), h, pos.x(), d);
        if (cell > 0) {
            setM_MouseClickCh(cell);
            audioCh = cell <= 4 ? cell : 0;
        }
    }
    if (_pMain) {
        _pMain->RequestAudio(int8_t(audioCh));
        _pMain->RequestLiveCh(m_MouseClickCh);
    }
    requestPaint();
}

// ---- second device pointer values

void MyOpenGLView::setNetMouseInfo(uint32_t version, int8_t offsetX, int8_t offsetY, uint16_t videoStd)
{
    m_uiNetworkVer = version;
    m_moveOffsetX = offsetX;
    m_moveOffsetY = offsetY;
    m_VideoStd = videoStd;
}

QPointF MyOpenGLView::WndPos2DVRPos(const QPointF& point, const QSizeF& size)
{
    const int w = int(size.width());
    const int h = int(size.height());
    if (w <= 0 || h <= 0)
        return m_nsWnd2DVRPos;
    const int x = int(point.x()) * 640 / w - 2 * m_moveOffsetX + 8;
    const int y = int(m_VideoStd) * int(point.y()) / h - 2 * m_moveOffsetY + 30;
    m_nsWnd2DVRPos = QPointF(x, y);
    return m_nsWnd2DVRPos;
}

// ---- snapshot

QString MyOpenGLView::snapshotPath(const QString& folder, const QDateTime& t)
{
    const QString stem = folder + QLatin1Char('/') + t.toString(QStringLiteral("yyyyMMdd_HHmmss"));
    QString path = stem + QStringLiteral(".jpg");
    for (int n = 1; QFileInfo::exists(path); ++n) {
        if (n > kMaxSameSecond)
            return QString();
        path = QStringLiteral("%1_%2.jpg").arg(stem).arg(n);
    }
    return path;
}

void MyOpenGLView::imageFromOpenGLView(const QString& folder)
{
    if (!QFileInfo::exists(folder))
        QDir().mkpath(folder);
    const QDateTime now = snapshotClock ? snapshotClock() : QDateTime::currentDateTime();
    QString path = snapshotPath(folder, now);
    QString error = QStringLiteral("every name of this second is taken");
    bool written = !path.isEmpty() && writeSnapshot(path, &error);
    if (path.isEmpty())
        path = folder + QLatin1Char('/') + now.toString(QStringLiteral("yyyyMMdd_HHmmss")) + QStringLiteral(".jpg");

    QString title = QStringLiteral("Done!!");
    QString text = path;
    if (!written) {
        vlog("snapshot not written: %s (%s)", path.toUtf8().constData(), error.toUtf8().constData());
        title = QStringLiteral("Snapshot failed");
        text = QStringLiteral("Could not write %1\n%2").arg(path, error);
    }
    if (showAlert)
        showAlert(title, text);
    else if (written)
        QMessageBox::information(this, title, text, QMessageBox::Ok);
    else
        QMessageBox::warning(this, title, text, QMessageBox::Ok);
}

// The picture is read back at the view's device pixels, top row first.
bool MyOpenGLView::writeSnapshot(const QString& path, QString* error)
{
    const QImage picture = grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    if (picture.isNull()) {
        *error = QStringLiteral("the view has no picture");
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    if (!picture.save(&file, "JPEG", kJpegQuality)) {
        file.cancelWriting();
        *error = QStringLiteral("the JPEG encoder failed");
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
