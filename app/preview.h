#pragma once
// The area above the panel, showing the result picture at the largest 320:200 size that fits.
#include <QRect>
#include <QWidget>

#include <optional>

#include "convert/picture.h"

namespace tavrix {

// The picture's rectangle in an area `width` wide and `height` high: full width first,
// full height if that is too tall, centred; each size rounded to nearest.
QRect previewRect(int width, int height);

class PreviewArea : public QWidget {
 public:
  // Shows `picture` as it is at each paint; the conversion writes into it between paints.
  PreviewArea(const std::optional<Picture>& picture, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const std::optional<Picture>& picture_;
};

}  // namespace tavrix
