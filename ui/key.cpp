#include "ui/key.h"

#include <QFontMetricsF>
#include <QHash>

#include "ui/drawn_once.h"
#include "ui/glut.h"

namespace varek {
namespace {

constexpr qreal kLabelSize = 11.5;
constexpr qreal kLabelOpacity = 0.50;
constexpr qreal kSpacing = 5;  // between the label and the cap
constexpr qreal kCapTextSize = 10.5;
constexpr qreal kCapTextOpacity = 0.75;
constexpr qreal kCapHorizontalPadding = 5;
constexpr qreal kCapVerticalPadding = 2;
constexpr qreal kCapCornerRadius = 4.5;
constexpr qreal kCapFillOpacity = 0.09;

// The keys by the names printed on German keyboards: Strg is the key of the panel's
// shortcuts, since the desktops keep Super for themselves.
const QString kReturnKey = QStringLiteral("Eingabe");
const QString kRevealKeys = QStringLiteral("Strg+Eingabe");
const QString kCopyKeys = QStringLiteral("Alt+Eingabe");

// A layout window's title starts with this (the layout rows of mode all).
constexpr std::string_view kLayoutTitlePrefix = "Fenster:";

struct Style {
  QFont labelFont = systemFont(kLabelSize, QFont::Normal);
  QFont capFont = systemFont(kCapTextSize, QFont::DemiBold, FontDesign::rounded);
  QFontMetricsF labelMetrics{labelFont};
  QFontMetricsF capMetrics{capFont};
  QColor labelColor = white(kLabelOpacity);
  QColor capTextColor = white(kCapTextOpacity);
  QColor capFill = white(kCapFillOpacity);
};

// Built once, on the first hint drawn (the fonts need the running application).
const Style& appearance() {
  static const Style shared;
  return shared;
}

QSizeF capSize(const QString& key) {
  return {appearance().capMetrics.horizontalAdvance(key) + 2 * kCapHorizontalPadding,
          appearance().capMetrics.height() + 2 * kCapVerticalPadding};
}

QString returnLabel(const Item& item, bool pastes) {
  switch (item.kind) {
    case Item::Kind::calc:
      return QStringLiteral("Kopieren");
    case Item::Kind::clipboard:
      return pastes ? QStringLiteral("Einfügen") : QStringLiteral("Kopieren");
    case Item::Kind::command:
      return item.needsConfirm ? QStringLiteral("Ausführen …") : QStringLiteral("Ausführen");
    case Item::Kind::window:
      return item.title.starts_with(kLayoutTitlePrefix) ? QStringLiteral("Anordnen")
                                                        : QStringLiteral("Zeigen");
    case Item::Kind::app:
    case Item::Kind::file:
    case Item::Kind::folder:
    case Item::Kind::setting:
    case Item::Kind::web:
    case Item::Kind::dictionary:
      break;
  }
  return QStringLiteral("Öffnen");
}

// Draws the hint with its left edge at 0, centred on `centre`.
void drawHint(QPainter& painter, const Key& hint, qreal centre) {
  const Style& look = appearance();
  const qreal labelWidth = look.labelMetrics.horizontalAdvance(hint.label);
  const qreal labelHeight = look.labelMetrics.height();
  painter.setFont(look.labelFont);
  painter.setPen(look.labelColor);
  painter.drawText(QRectF(0, centre - labelHeight / 2, labelWidth, labelHeight),
                   Qt::AlignLeft | Qt::AlignVCenter, hint.label);

  const QSizeF cap = capSize(hint.key);
  const QRectF capRect(labelWidth + kSpacing, centre - cap.height() / 2, cap.width(),
                       cap.height());
  painter.setPen(Qt::NoPen);
  painter.setBrush(look.capFill);
  painter.drawRoundedRect(capRect, kCapCornerRadius, kCapCornerRadius);
  painter.setFont(look.capFont);
  painter.setPen(look.capTextColor);
  painter.drawText(capRect, Qt::AlignCenter, hint.key);
}

}  // namespace

// Measured once per hint: the footer measures its hints whenever they change, and
// measuring shapes the texts. The hints are a handful; main thread only.
QSizeF Key::size() const {
  static QHash<std::pair<QString, QString>, QSizeF> sizes;
  const std::pair<QString, QString> hint{key, label};
  if (const auto found = sizes.constFind(hint); found != sizes.cend()) return *found;
  const QSizeF cap = capSize(key);
  return sizes[hint] = {appearance().labelMetrics.horizontalAdvance(label) + kSpacing + cap.width(),
                        std::max(appearance().labelMetrics.height(), cap.height())};
}

void Key::paint(QPainter& painter, QPointF origin) const {
  const QSizeF extent = size();
  drawOnce(painter, QPointF(origin.x(), origin.y() - extent.height() / 2),
           QStringLiteral("varek.key:%1:%2").arg(key, label), extent,
           [&](QPainter& drawing) { drawHint(drawing, *this, extent.height() / 2); });
}

std::vector<Key> keyHints(const Item& item, bool pastes) {
  std::vector<Key> hints;
  if (item.path) hints.push_back({kRevealKeys, QStringLiteral("Im Dateimanager zeigen")});
  // A row whose Return copies needs no second key for it.
  const bool returnCopies =
      item.kind == Item::Kind::calc || (item.kind == Item::Kind::clipboard && !pastes);
  if (!returnCopies) hints.push_back({kCopyKeys, QStringLiteral("Kopieren")});
  hints.push_back({kReturnKey, returnLabel(item, pastes)});
  return hints;
}

}  // namespace varek
