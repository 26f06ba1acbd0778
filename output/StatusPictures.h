#pragma once
#include <QColor>
#include <QImage>

// The view's status pictures, drawn by the program itself: a plain
// background with the state in clear text.
namespace StatusPictures {

constexpr int kWidth = 400;
constexpr int kHeight = 300;

// 400 x 300, premultiplied ARGB32 (bytes blue, green, red, alpha), rows
// top-down. Null for a slot out of range.
QImage make(int slot);

// Background colour of a slot's picture.
QColor background(int slot);

}  // namespace StatusPictures
