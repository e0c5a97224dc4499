#include "app/preview.h"

#include <QImage>
#include <QPainter>

#include <cstdint>
#include <exception>

namespace tavrix {
namespace {

// QImage::Format_RGB32 wants 0xFF in the top byte; our pixels carry 0 there.
QImage toImage(const Picture& picture) {
  QImage image(picture.width, picture.height, QImage::Format_RGB32);
  if (image.isNull()) return image;
  for (int y = 0; y < picture.height; ++y) {
    const uint32_t* src = picture.row(y);
    auto* dst = reinterpret_cast<uint32_t*>(image.scanLine(y));
    for (int x = 0; x < picture.width; ++x) dst[x] = 0xFF000000u | src[x];
  }
  return image;
}

}  // namespace

QRect previewRect(int width, int height) {
  // 64-bit products: the sizes of a window are only bounded by QWIDGETSIZE_MAX.
  const int64_t cw = width, pt = height;
  int64_t w = cw;
  int64_t h = (cw * 200 + 160) / 320;
  if (h > pt) {
    h = pt;
    w = (pt * 320 + 100) / 200;
  }
  return QRect(int((cw - w) / 2), int((pt - h) / 2), int(w), int(h));
}

PreviewArea::PreviewArea(const std::optional<Picture>& picture, QWidget* parent)
    : QWidget(parent), picture_(picture) {}

void PreviewArea::paintEvent(QPaintEvent*) {
  if (!picture_ || picture_->empty()) return;
  // A paint that fails leaves what it has drawn; the next paint starts afresh.
  try {
    const QRect target = previewRect(width(), height());
    if (target.isEmpty()) return;
    const QImage image = toImage(*picture_);
    if (image.isNull()) return;
    QPainter painter(this);
    // Nearest pixel: every window pixel shows one picture pixel, as the Plus/4 would.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(target, image);
  } catch (const std::exception&) {
  }
}

}  // namespace tavrix
