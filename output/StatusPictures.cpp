#include "output/StatusPictures.h"

#include <QFont>
#include <QPainter>

#include "output/StatusTable.h"

namespace StatusPictures {
namespace {

enum Tone { Progress, Failure, Marker, Blue };

struct Picture {
    const char* text;
    Tone tone;
};

const Picture kPictures[StatusTable::kPictureCount] = {
    {"DISCONNECTED", Progress},
    {"CONNECTING TO\nDDNS SERVER", Progress},
    {"DDNS SERVER\nCONNECTED", Progress},
    {"DDNS SERVER\nCONNECTION FAILED", Failure},
    {"DEVICE ADDRESS\nRECEIVED", Progress},
    {"DEVICE ADDRESS\nNOT FOUND", Failure},
    {"CONNECTING\nTO DEVICE", Progress},
    {"LOGGING IN", Progress},
    {"CONNECTION FAILED\nNETWORK ERROR", Failure},
    {"LOGGING IN", Progress},
    {"LOGIN SUCCEEDED", Progress},
    {"LOGIN FAILED\nCHECK ID AND PASSWORD", Failure},
    {"TOO MANY USERS", Failure},
    {"WAITING FOR VIDEO", Progress},
    {"MODEL MISMATCH", Failure},
    {"", Blue},
    {"REC OFF", Marker},
    {"COVERT", Marker},
};

}  // namespace

QColor background(int slot)
{
    if (slot == StatusTable::kPicCovert)
        return QColor(72, 40, 88);
    if (slot < 0 || slot >= StatusTable::kPictureCount)
        return QColor(Qt::black);
    switch (kPictures[slot].tone) {
    case Failure: return QColor(112, 24, 24);
    case Marker: return QColor(56, 56, 56);
    case Blue: return QColor(0, 0, 176);
    case Progress: break;
    }
    return QColor(24, 40, 64);
}

QImage make(int slot)
{
    if (slot < 0 || slot >= StatusTable::kPictureCount)
        return QImage();
    QImage img(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    if (img.isNull())
        return img;
    img.fill(background(slot));
    QPainter p(&img);
    QFont font;
    font.setBold(true);
    font.setPixelSize(30);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(16, 16, kWidth - 32, kHeight - 32), Qt::AlignCenter | Qt::TextWordWrap,
               QString::fromLatin1(kPictures[slot].text));
    return img;
}

}  // namespace StatusPictures
