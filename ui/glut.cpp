#include "ui/glut.h"

#include <QFontDatabase>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace varek {
namespace {

// The light amber at the gradient's cool end.
const QColor kAmber = QColor::fromRgbF(1.0f, 0.78f, 0.32f);

// Qt 6 keeps a logical 96 dpi per device-independent pixel, where a Qt point is 4/3 pixel;
// the design's point is one pixel.
constexpr qreal kQtPointsPerDesignPoint = 72.0 / 96.0;

// A Gaussian reaches about nothing three standard deviations out.
constexpr qreal kGlowReachInSigmas = 3.0;

std::vector<float> gaussianKernel(qreal sigma) {
  const int reach = std::max(1, static_cast<int>(std::ceil(kGlowReachInSigmas * sigma)));
  std::vector<float> kernel(2 * reach + 1);
  float sum = 0;
  for (int offset = -reach; offset <= reach; ++offset) {
    const float weight = static_cast<float>(std::exp(-(offset * offset) / (2 * sigma * sigma)));
    kernel[offset + reach] = weight;
    sum += weight;
  }
  for (float& weight : kernel) weight /= sum;
  return kernel;
}

// One pass of the separable blur over the alpha values, along rows or columns.
std::vector<float> blurPass(const std::vector<float>& alpha, int width, int height,
                            const std::vector<float>& kernel, bool alongRows) {
  const int reach = static_cast<int>(kernel.size() / 2);
  std::vector<float> result(alpha.size(), 0.0f);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      float sum = 0;
      for (int offset = -reach; offset <= reach; ++offset) {
        const int sampleX = alongRows ? x + offset : x;
        const int sampleY = alongRows ? y : y + offset;
        if (sampleX < 0 || sampleY < 0 || sampleX >= width || sampleY >= height) continue;
        sum += alpha[sampleY * width + sampleX] * kernel[offset + reach];
      }
      result[y * width + x] = sum;
    }
  }
  return result;
}

}  // namespace

namespace Glut {

const QColor& ember() {
  static const QColor color = QColor::fromRgbF(1.0f, 0.48f, 0.1f);
  return color;
}

const QColor& flame() {
  static const QColor color = QColor::fromRgbF(1.0f, 0.24f, 0.18f);
  return color;
}

const QLinearGradient& gradient() {
  static const QLinearGradient gradient = [] {
    QLinearGradient result(0, 0, 1, 1);
    result.setCoordinateMode(QGradient::ObjectMode);
    result.setStops({{0.0, kAmber}, {0.5, ember()}, {1.0, flame()}});
    return result;
  }();
  return gradient;
}

}  // namespace Glut

QColor systemColor(SystemColor color) {
  switch (color) {
    case SystemColor::gray:
      return QColor(142, 142, 147);
    case SystemColor::indigo:
      return QColor(94, 92, 230);
    case SystemColor::teal:
      return QColor(64, 200, 224);
    case SystemColor::purple:
      return QColor(191, 90, 242);
    case SystemColor::pink:
      return QColor(255, 55, 95);
    case SystemColor::blue:
      return QColor(10, 132, 255);
    case SystemColor::red:
      return QColor(255, 69, 58);
    case SystemColor::orange:
      return QColor(255, 159, 10);
    case SystemColor::mint:
      return QColor(99, 230, 226);
    case SystemColor::brown:
      return QColor(172, 142, 104);
  }
  return QColor(142, 142, 147);
}

QFont systemFont(qreal size, QFont::Weight weight, FontDesign design) {
  QFont font = QFontDatabase::systemFont(
      design == FontDesign::monospaced ? QFontDatabase::FixedFont : QFontDatabase::GeneralFont);
  font.setPointSizeF(size * kQtPointsPerDesignPoint);
  font.setWeight(weight);
  return font;
}

QColor white(qreal opacity) {
  QColor color(Qt::white);
  color.setAlphaF(static_cast<float>(opacity));
  return color;
}

int glowReach(qreal radius) { return static_cast<int>(std::ceil(kGlowReachInSigmas * radius / 2)); }

Glow glow(const QPainterPath& shape, const QColor& color, qreal radius, qreal devicePixelRatio) {
  const std::vector<float> kernel = gaussianKernel(radius / 2 * devicePixelRatio);
  const qreal margin = glowReach(radius);
  const QRectF bounds = shape.boundingRect().adjusted(-margin, -margin, margin, margin);
  const int width = static_cast<int>(std::ceil(bounds.width() * devicePixelRatio));
  const int height = static_cast<int>(std::ceil(bounds.height() * devicePixelRatio));

  QImage coverage(width, height, QImage::Format_Alpha8);
  coverage.fill(0);
  {
    QPainter painter(&coverage);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(devicePixelRatio, devicePixelRatio);
    painter.translate(-bounds.topLeft());
    painter.fillPath(shape, Qt::black);
  }
  std::vector<float> alpha(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    const uchar* line = coverage.constScanLine(y);
    for (int x = 0; x < width; ++x) alpha[y * width + x] = line[x] / 255.0f;
  }
  alpha = blurPass(blurPass(alpha, width, height, kernel, true), width, height, kernel, false);

  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) {
      QColor pixel = color;
      pixel.setAlphaF(std::clamp(color.alphaF() * alpha[y * width + x], 0.0f, 1.0f));
      line[x] = qPremultiply(pixel.rgba());
    }
  }
  image.setDevicePixelRatio(devicePixelRatio);
  return {std::move(image), bounds.topLeft()};
}

}  // namespace varek
