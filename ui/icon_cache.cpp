#include "ui/icon_cache.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QPainter>
#include <QTextStream>
#include <array>
#include <cmath>
#include <optional>
#include <string_view>
#include <type_traits>

#include "ui/glut.h"

namespace varek {
namespace {

// Symbol and text icons sit on a tile inset this far within their square.
constexpr qreal kTileInset = 2;
constexpr qreal kTileCornerRadius = 7;
constexpr qreal kTileTopOpacity = 0.95;
constexpr qreal kTileBottomOpacity = 0.70;
// A symbol of the 13.5-point semibold design spans about 15 points.
constexpr qreal kSymbolSize = 15;
constexpr qreal kTextSize = 17;
// Glyphs are designed on a grid of 24 units, like most icon sets.
constexpr qreal kGlyphGrid = 24;
constexpr qreal kGlyphStroke = 2.2;
// A symbolic theme icon is one flat colour; a full-colour icon varies more than this
// (0–255 per channel) between its opaque pixels, and is not used as a symbol.
constexpr int kMonochromeTolerance = 24;
constexpr int kOpaqueAlpha = 128;
// GTK's own default icon theme, used where the session names none but the bare base.
constexpr std::string_view kGtkDefaultTheme = "Adwaita";

enum class Glyph {
  lock,
  moon,
  display,
  sparkles,
  appearance,
  speaker,
  wifi,
  eye,
  camera,
  trash,
  restart,
  power,
  logout,
  layout,
  window,
  terminal,
  globe,
  book,
  xmark,
  compass,
  magnifier,
  documents,
  clipboard,
  hand,
  generic
};

struct SymbolFamily {
  std::string_view prefix;  // of the symbol's name
  const char* themeName;    // the freedesktop name of the nearest symbolic icon, if any
  Glyph glyph;
  QRectF layoutPart{};  // for layout glyphs: the part of the screen filled, as fractions
};

// Ordered from the specific to the general: the first prefix that matches wins.
const std::array<SymbolFamily, 36>& families() {
  static const std::array<SymbolFamily, 36> table{{
      {"rectangle.portrait.and.arrow", "system-log-out-symbolic", Glyph::logout},
      {"rectangle.lefthalf", nullptr, Glyph::layout, {0, 0, 0.5, 1}},
      {"rectangle.righthalf", nullptr, Glyph::layout, {0.5, 0, 0.5, 1}},
      {"rectangle.tophalf", nullptr, Glyph::layout, {0, 0, 1, 0.5}},
      {"rectangle.bottomhalf", nullptr, Glyph::layout, {0, 0.5, 1, 0.5}},
      {"rectangle.leadingthird", nullptr, Glyph::layout, {0, 0, 1.0 / 3, 1}},
      {"rectangle.trailingthird", nullptr, Glyph::layout, {2.0 / 3, 0, 1.0 / 3, 1}},
      {"rectangle.center.inset", nullptr, Glyph::layout, {0.25, 0.2, 0.5, 0.6}},
      {"rectangle.inset", nullptr, Glyph::layout, {0.08, 0.1, 0.84, 0.8}},
      {"rectangle", nullptr, Glyph::layout, {0, 0, 1, 1}},
      {"circle.lefthalf", "display-brightness-symbolic", Glyph::appearance},
      {"lock", "system-lock-screen-symbolic", Glyph::lock},
      {"moon", "weather-clear-night-symbolic", Glyph::moon},
      {"display", "video-display-symbolic", Glyph::display},
      {"sparkles", "starred-symbolic", Glyph::sparkles},
      {"speaker", "audio-volume-muted-symbolic", Glyph::speaker},
      {"wifi", "network-wireless-symbolic", Glyph::wifi},
      {"eye", "view-conceal-symbolic", Glyph::eye},
      {"camera", "camera-photo-symbolic", Glyph::camera},
      {"trash", "user-trash-symbolic", Glyph::trash},
      {"arrow.clockwise", "system-reboot-symbolic", Glyph::restart},
      {"power", "system-shutdown-symbolic", Glyph::power},
      {"macwindow", "focus-windows-symbolic", Glyph::window},
      {"terminal", "utilities-terminal-symbolic", Glyph::terminal},
      {"globe", "web-browser-symbolic", Glyph::globe},
      {"character.book", "accessories-dictionary-symbolic", Glyph::book},
      {"book", "accessories-dictionary-symbolic", Glyph::book},
      {"xmark", "window-close-symbolic", Glyph::xmark},
      {"safari", "web-browser-symbolic", Glyph::compass},
      {"magnifyingglass", "system-search-symbolic", Glyph::magnifier},
      {"doc.on.doc", "edit-copy-symbolic", Glyph::documents},
      {"doc.on.clipboard", "edit-paste-symbolic", Glyph::clipboard},
      {"doc", "text-x-generic-symbolic", Glyph::documents},
      {"hand", "dialog-warning-symbolic", Glyph::hand},
      {"gearshape", "emblem-system-symbolic", Glyph::generic},
      {"", nullptr, Glyph::generic},
  }};
  return table;
}

const SymbolFamily& family(std::string_view name) {
  for (const SymbolFamily& candidate : families()) {
    if (name.starts_with(candidate.prefix)) return candidate;
  }
  return families().back();
}

QPen glyphPen(qreal width = kGlyphStroke) {
  return QPen(Qt::white, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void strokeOnly(QPainter& painter, qreal width = kGlyphStroke) {
  painter.setPen(glyphPen(width));
  painter.setBrush(Qt::NoBrush);
}

void fillOnly(QPainter& painter) {
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::white);
}

// A simple line drawing of the symbol in white, on the 24-unit grid.
void drawGlyph(QPainter& painter, const SymbolFamily& symbol, bool slashed) {
  switch (symbol.glyph) {
    case Glyph::lock: {
      fillOnly(painter);
      painter.drawRoundedRect(QRectF(5, 11, 14, 10), 2, 2);
      strokeOnly(painter);
      QPainterPath shackle(QPointF(8, 11));
      shackle.lineTo(8, 8);
      shackle.arcTo(QRectF(8, 4, 8, 8), 180, -180);
      shackle.lineTo(16, 11);
      painter.drawPath(shackle);
      break;
    }
    case Glyph::moon: {
      QPainterPath disc, bite;
      disc.addEllipse(QRectF(3, 3, 18, 18));
      bite.addEllipse(QRectF(9, 0, 16, 16));
      painter.fillPath(disc.subtracted(bite), Qt::white);
      break;
    }
    case Glyph::display:
      strokeOnly(painter);
      painter.drawRoundedRect(QRectF(3, 4, 18, 12), 2, 2);
      painter.drawLine(QPointF(12, 16), QPointF(12, 20));
      painter.drawLine(QPointF(8, 20), QPointF(16, 20));
      break;
    case Glyph::sparkles: {
      fillOnly(painter);
      const QPointF star[] = {{11, 3},  {13, 10}, {20, 12}, {13, 14},
                              {11, 21}, {9, 14},  {2, 12},  {9, 10}};
      painter.drawPolygon(star, 8);
      painter.drawEllipse(QRectF(17, 3, 4, 4));
      break;
    }
    case Glyph::appearance:
      strokeOnly(painter);
      painter.drawEllipse(QRectF(4, 4, 16, 16));
      fillOnly(painter);
      painter.drawPie(QRectF(4, 4, 16, 16), 90 * 16, 180 * 16);
      break;
    case Glyph::speaker: {
      fillOnly(painter);
      const QPointF cone[] = {{3, 9}, {7, 9}, {12, 5}, {12, 19}, {7, 15}, {3, 15}};
      painter.drawPolygon(cone, 6);
      if (!slashed) {
        strokeOnly(painter);
        painter.drawArc(QRectF(10, 8, 8, 8), -50 * 16, 100 * 16);
        painter.drawArc(QRectF(9, 4, 14, 16), -50 * 16, 100 * 16);
      }
      break;
    }
    case Glyph::wifi:
      strokeOnly(painter);
      for (const qreal radius : {4.0, 8.5, 13.0}) {
        painter.drawArc(QRectF(12 - radius, 20 - radius, 2 * radius, 2 * radius), 45 * 16, 90 * 16);
      }
      fillOnly(painter);
      painter.drawEllipse(QPointF(12, 19), 1.6, 1.6);
      break;
    case Glyph::eye: {
      strokeOnly(painter);
      QPainterPath outline(QPointF(2, 12));
      outline.quadTo(12, 2, 22, 12);
      outline.quadTo(12, 22, 2, 12);
      painter.drawPath(outline);
      fillOnly(painter);
      painter.drawEllipse(QPointF(12, 12), 3.2, 3.2);
      break;
    }
    case Glyph::camera: {
      QPainterPath body;
      body.addRoundedRect(QRectF(2, 7, 20, 14), 3, 3);
      body.addRect(QRectF(8, 4, 8, 4));
      body = body.simplified();
      QPainterPath lens;
      lens.addEllipse(QPointF(12, 14), 4, 4);
      painter.fillPath(body.subtracted(lens), Qt::white);
      painter.setPen(Qt::NoPen);
      painter.setBrush(Qt::white);
      painter.drawEllipse(QPointF(12, 14), 2.2, 2.2);
      break;
    }
    case Glyph::trash: {
      strokeOnly(painter);
      painter.drawLine(QPointF(4, 6), QPointF(20, 6));
      painter.drawRect(QRectF(9.5, 3, 5, 3));
      const QPointF body[] = {{6, 6}, {7.5, 21}, {16.5, 21}, {18, 6}};
      painter.drawPolyline(body, 4);
      break;
    }
    case Glyph::restart: {
      strokeOnly(painter);
      painter.drawArc(QRectF(5, 5, 14, 14), 60 * 16, -300 * 16);
      fillOnly(painter);
      const QPointF head[] = {{15, 2}, {19.5, 6.5}, {13, 8.5}};
      painter.drawPolygon(head, 3);
      break;
    }
    case Glyph::power:
      strokeOnly(painter);
      painter.drawArc(QRectF(4, 5, 16, 16), 120 * 16, 300 * 16);
      painter.drawLine(QPointF(12, 2.5), QPointF(12, 12));
      break;
    case Glyph::logout: {
      strokeOnly(painter);
      const QPointF door[] = {{11, 4}, {5, 4}, {5, 20}, {11, 20}};
      painter.drawPolyline(door, 4);
      painter.drawLine(QPointF(10, 12), QPointF(20, 12));
      const QPointF head[] = {{16.5, 8.5}, {20, 12}, {16.5, 15.5}};
      painter.drawPolyline(head, 3);
      break;
    }
    case Glyph::layout: {
      const QRectF screen(2, 5, 20, 14);
      strokeOnly(painter, 1.6);
      painter.drawRoundedRect(screen, 2, 2);
      const QRectF inner = screen.adjusted(2.5, 2.5, -2.5, -2.5);
      const QRectF& part = symbol.layoutPart;
      fillOnly(painter);
      painter.drawRoundedRect(QRectF(inner.left() + part.left() * inner.width(),
                                     inner.top() + part.top() * inner.height(),
                                     part.width() * inner.width(), part.height() * inner.height()),
                              1, 1);
      break;
    }
    case Glyph::window:
      strokeOnly(painter);
      painter.drawRoundedRect(QRectF(3, 4, 18, 16), 2, 2);
      fillOnly(painter);
      painter.drawRoundedRect(QRectF(3, 4, 18, 5), 2, 2);
      break;
    case Glyph::terminal: {
      strokeOnly(painter);
      painter.drawRoundedRect(QRectF(2, 4, 20, 16), 3, 3);
      const QPointF prompt[] = {{6.5, 9}, {9.5, 12}, {6.5, 15}};
      painter.drawPolyline(prompt, 3);
      painter.drawLine(QPointF(11.5, 15), QPointF(16.5, 15));
      break;
    }
    case Glyph::globe:
      strokeOnly(painter, 1.8);
      painter.drawEllipse(QRectF(3, 3, 18, 18));
      painter.drawEllipse(QRectF(8, 3, 8, 18));
      painter.drawLine(QPointF(3, 12), QPointF(21, 12));
      break;
    case Glyph::book:
      fillOnly(painter);
      painter.drawRoundedRect(QRectF(5, 3, 14, 18), 2, 2);
      painter.setPen(QPen(Qt::black, 1.6));
      painter.setCompositionMode(QPainter::CompositionMode_DestinationOut);
      painter.drawLine(QPointF(8.5, 3), QPointF(8.5, 21));
      painter.drawLine(QPointF(11.5, 8), QPointF(16, 8));
      painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
      break;
    case Glyph::xmark:
      strokeOnly(painter, 2.6);
      painter.drawLine(QPointF(6, 6), QPointF(18, 18));
      painter.drawLine(QPointF(18, 6), QPointF(6, 18));
      break;
    case Glyph::compass: {
      strokeOnly(painter, 1.8);
      painter.drawEllipse(QRectF(3, 3, 18, 18));
      fillOnly(painter);
      const QPointF needle[] = {{16, 8}, {13.2, 13.2}, {8, 16}, {10.8, 10.8}};
      painter.drawPolygon(needle, 4);
      break;
    }
    case Glyph::magnifier:
      strokeOnly(painter, 2.4);
      painter.drawEllipse(QRectF(4, 4, 11, 11));
      painter.drawLine(QPointF(13.5, 13.5), QPointF(20, 20));
      break;
    case Glyph::documents:
      strokeOnly(painter, 1.8);
      painter.drawRoundedRect(QRectF(9, 3, 11, 14), 2, 2);
      fillOnly(painter);
      painter.drawRoundedRect(QRectF(4, 7, 11, 14), 2, 2);
      break;
    case Glyph::clipboard:
      strokeOnly(painter, 1.8);
      painter.drawRoundedRect(QRectF(5, 5, 14, 17), 2, 2);
      painter.drawLine(QPointF(9, 12), QPointF(15, 12));
      painter.drawLine(QPointF(9, 16), QPointF(15, 16));
      fillOnly(painter);
      painter.drawRoundedRect(QRectF(8.5, 2.5, 7, 4.5), 1.5, 1.5);
      break;
    case Glyph::hand:
      fillOnly(painter);
      painter.drawRoundedRect(QRectF(6.5, 11, 11.5, 10.5), 4, 4);
      for (const QRectF& finger : {QRectF(6.5, 6, 2.6, 9), QRectF(9.4, 3.5, 2.6, 10),
                                   QRectF(12.3, 3, 2.6, 10), QRectF(15.2, 5, 2.6, 9)}) {
        painter.drawRoundedRect(finger, 1.3, 1.3);
      }
      painter.drawRoundedRect(QRectF(17, 10.5, 2.6, 7), 1.3, 1.3);
      break;
    case Glyph::generic:
      fillOnly(painter);
      painter.drawEllipse(QRectF(6, 6, 12, 12));
      break;
  }
  if (slashed) {
    painter.setCompositionMode(QPainter::CompositionMode_DestinationOut);
    strokeOnly(painter, kGlyphStroke * 2.2);
    painter.drawLine(QPointF(3, 3), QPointF(21, 21));
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    strokeOnly(painter);
    painter.drawLine(QPointF(3, 3), QPointF(21, 21));
  }
}

bool isMonochrome(const QImage& image) {
  std::optional<QRgb> first;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QRgb pixel = qUnpremultiply(image.pixel(x, y));
      if (qAlpha(pixel) < kOpaqueAlpha) continue;
      if (!first) first = pixel;
      if (std::abs(qRed(pixel) - qRed(*first)) > kMonochromeTolerance ||
          std::abs(qGreen(pixel) - qGreen(*first)) > kMonochromeTolerance ||
          std::abs(qBlue(pixel) - qBlue(*first)) > kMonochromeTolerance) {
        return false;
      }
    }
  }
  return first.has_value();
}

// The theme's symbolic icon in white, if the theme has a true one-colour icon of that name.
QImage themeSymbol(const char* themeName, int pixels) {
  if (themeName == nullptr) return {};
  const QIcon icon = QIcon::fromTheme(QString::fromLatin1(themeName));
  if (icon.isNull()) return {};
  QImage image = icon.pixmap(QSize(pixels, pixels), 1.0)
                     .toImage()
                     .convertToFormat(QImage::Format_ARGB32_Premultiplied);
  // Qt falls back to shorter names (a "-symbolic" name may yield the full-colour icon).
  if (image.isNull() || !isMonochrome(image)) return {};
  QPainter painter(&image);
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.fillRect(image.rect(), Qt::white);
  return image;
}

QPixmap canvas(int size, qreal devicePixelRatio) {
  QPixmap pixmap(QSize(size, size) * devicePixelRatio);
  pixmap.setDevicePixelRatio(devicePixelRatio);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

QRectF tileRect(int size) {
  return QRectF(0, 0, size, size).adjusted(kTileInset, kTileInset, -kTileInset, -kTileInset);
}

QPixmap symbolTile(const Item::Icon::Symbol& symbol, int size, qreal devicePixelRatio) {
  QPixmap pixmap = canvas(size, devicePixelRatio);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF tile = tileRect(size);
  const QColor color = systemColor(symbol.color);
  QColor top = color, bottom = color;
  top.setAlphaF(static_cast<float>(kTileTopOpacity));
  bottom.setAlphaF(static_cast<float>(kTileBottomOpacity));
  QLinearGradient fill(tile.topLeft(), tile.bottomLeft());
  fill.setStops({{0.0, top}, {1.0, bottom}});
  painter.setPen(Qt::NoPen);
  painter.setBrush(fill);
  painter.drawRoundedRect(tile, kTileCornerRadius, kTileCornerRadius);

  const SymbolFamily& symbolFamily = family(symbol.name);
  const QRectF glyphBox(tile.center() - QPointF(kSymbolSize, kSymbolSize) / 2,
                        QSizeF(kSymbolSize, kSymbolSize));
  const QImage themed = themeSymbol(symbolFamily.themeName,
                                    static_cast<int>(std::lround(kSymbolSize * devicePixelRatio)));
  if (!themed.isNull()) {
    painter.drawImage(glyphBox, themed);
    return pixmap;
  }
  // Drawn on a layer of its own, so that cut-outs remove glyph strokes and not the tile.
  QPixmap glyph = canvas(static_cast<int>(std::ceil(kSymbolSize)), devicePixelRatio);
  {
    QPainter glyphPainter(&glyph);
    glyphPainter.setRenderHint(QPainter::Antialiasing);
    glyphPainter.scale(kSymbolSize / kGlyphGrid, kSymbolSize / kGlyphGrid);
    drawGlyph(glyphPainter, symbolFamily, symbol.name.find(".slash") != std::string::npos);
  }
  painter.drawPixmap(glyphBox.topLeft(), glyph);
  return pixmap;
}

QPixmap textTile(const Item::Icon::Text& text, int size, qreal devicePixelRatio) {
  QPixmap pixmap = canvas(size, devicePixelRatio);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(Glut::gradient());
  const QRectF tile = tileRect(size);
  painter.drawRoundedRect(tile, kTileCornerRadius, kTileCornerRadius);
  painter.setPen(Qt::white);
  painter.setFont(systemFont(kTextSize, QFont::Bold, FontDesign::rounded));
  painter.drawText(tile, Qt::AlignCenter, QString::fromStdString(text.text));
  return pixmap;
}

// The Icon key of a desktop entry's main group: a theme name or an absolute file.
QString desktopEntryIcon(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  QTextStream stream(&file);
  bool inMainGroup = false;
  while (!stream.atEnd()) {
    const QString line = stream.readLine().trimmed();
    if (line.startsWith(u'[')) {
      if (inMainGroup) break;
      inMainGroup = line == u"[Desktop Entry]";
    } else if (inMainGroup && line.startsWith(u"Icon")) {
      const qsizetype equals = line.indexOf(u'=');
      if (equals > 0 && line.left(equals).trimmed() == u"Icon") {
        return line.mid(equals + 1).trimmed();
      }
    }
  }
  return {};
}

QIcon firstThemeIcon(std::initializer_list<QString> names) {
  for (const QString& name : names) {
    if (name.isEmpty()) continue;
    QIcon icon = QIcon::fromTheme(name);
    if (!icon.isNull()) return icon;
  }
  return {};
}

// Built on every row painted, so it is plain bytes rather than formatted text.
std::string cacheKey(const Item::Icon& icon, int size, qreal devicePixelRatio) {
  std::string key = std::visit(
      [](const auto& value) {
        using Case = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<Case, Item::Icon::File>) {
          return 'f' + value.path;
        } else if constexpr (std::is_same_v<Case, Item::Icon::Symbol>) {
          return 's' + std::to_string(static_cast<int>(value.color)) + ':' + value.name;
        } else {
          return 't' + value.text;
        }
      },
      icon.value);
  key += '@';
  key += std::to_string(size);
  key.append(reinterpret_cast<const char*>(&devicePixelRatio), sizeof devicePixelRatio);
  return key;
}

}  // namespace

IconCache& IconCache::shared() {
  static IconCache cache;
  return cache;
}

IconCache::IconCache() {
  // A session without a desktop environment names only the bare base theme, which holds no
  // file icons; GTK applications in such a session show GTK's default theme, and so do we.
  if (QIcon::themeName() == u"hicolor" && QIcon::fallbackThemeName() == u"hicolor") {
    const QString theme = QString::fromLatin1(kGtkDefaultTheme.data(), kGtkDefaultTheme.size());
    for (const QString& folder : QIcon::themeSearchPaths()) {
      if (QFileInfo::exists(QDir(folder).filePath(theme + QStringLiteral("/index.theme")))) {
        QIcon::setFallbackThemeName(theme);
        break;
      }
    }
  }
}

QPixmap IconCache::icon(const Item::Icon& icon, int size, qreal devicePixelRatio) {
  std::string key = cacheKey(icon, size, devicePixelRatio);
  if (auto found = index_.find(key); found != index_.end()) {
    entries_.splice(entries_.begin(), entries_, found->second);
    return found->second->second;
  }
  QPixmap pixmap = std::visit(
      [&](const auto& value) -> QPixmap {
        using Case = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<Case, Item::Icon::File>) {
          return fileIcon(value.path, size, devicePixelRatio);
        } else if constexpr (std::is_same_v<Case, Item::Icon::Symbol>) {
          return symbolTile(value, size, devicePixelRatio);
        } else {
          return textTile(value, size, devicePixelRatio);
        }
      },
      icon.value);
  entries_.emplace_front(key, pixmap);
  index_[key] = entries_.begin();
  if (entries_.size() > kLimit) {
    index_.erase(entries_.back().first);
    entries_.pop_back();
  }
  return pixmap;
}

QPixmap IconCache::fileIcon(const std::string& path, int size, qreal devicePixelRatio) {
  const QString file = QString::fromStdString(path);
  const QFileInfo info(file);
  QIcon found;
  QString named;
  const bool application = file.endsWith(u".desktop");
  if (application) {
    const QString name = desktopEntryIcon(file);
    // Asking the theme and drawing the picture take half a millisecond, and many entries
    // name the same icon: that is done once per name.
    named = name + u'@' + QString::number(size) + u'x' + QString::number(devicePixelRatio);
    if (const auto drawn = namedIcons_.find(named); drawn != namedIcons_.end()) {
      return drawn->second;
    }
    if (QDir::isAbsolutePath(name) && QFileInfo::exists(name)) found = QIcon(name);
    if (found.isNull()) found = firstThemeIcon({name, QStringLiteral("application-x-executable")});
  } else if (info.isDir()) {
    found = firstThemeIcon({QStringLiteral("folder"), QStringLiteral("inode-directory")});
  } else {
    // By name only: reading the file's first bytes could block on a slow or remote disk.
    const QMimeType type = mimeTypes_.mimeTypeForFile(info, QMimeDatabase::MatchExtension);
    found =
        firstThemeIcon({type.iconName(), type.genericIconName(), QStringLiteral("text-x-generic")});
  }
  // Without a theme's icon a glyph is drawn here. The style's own file icon would have Qt
  // load every image-format plugin it has (JPEG, GIF, ICO, SVG) to read one PNG.
  const QPixmap source =
      found.isNull() ? QPixmap() : found.pixmap(QSize(size, size) * devicePixelRatio, 1.0);
  QPixmap pixmap = canvas(size, devicePixelRatio);
  QPainter painter(&pixmap);
  if (!source.isNull()) {
    // The theme may have only a smaller size; it is stretched to fill the square.
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(QRectF(0, 0, size, size), source, QRectF(source.rect()));
  } else {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / kGlyphGrid, size / kGlyphGrid);
    drawGlyph(painter, family(application ? "macwindow" : "doc"), false);
  }
  // A pixmap copied while a painter is on it is copied pixel by pixel.
  painter.end();
  if (!named.isNull()) {
    if (namedIcons_.size() >= kLimit) namedIcons_.clear();
    namedIcons_.emplace(named, pixmap);
  }
  return pixmap;
}

}  // namespace varek
