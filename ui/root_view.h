// The whole content of the launcher's panel: a dark card with the logo and the search
// field at the top, the result list (or a few words on what to type) in the middle, and
// the mode tabs with the selected row's key hints at the bottom. It keeps no state of its
// own beyond the list's scroll position: every frame shows the model's query, mode, rows,
// selection and pending confirmation. The mouse selects and runs rows and switches modes;
// the keys are the panel controller's.
#pragma once

#include <QRegion>
#include <QWidget>
#include <array>
#include <optional>
#include <vector>

#include "search/search_model.h"
#include "ui/card_picture.h"
#include "ui/key.h"

namespace varek {

class LogoMark;
class SearchField;

class RootView : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 740;
  static constexpr int kHeight = 470;

  // Fixed at kWidth × kHeight.
  explicit RootView(SearchModel& model, QWidget* parent = nullptr);

  SearchField& field();
  // Whether the desktop blends the window with what lies behind it, so the card's backdrop
  // may let it show through. Opaque until told otherwise.
  void setTranslucent(bool translucent);
  SearchModel& model() const { return model_; }
  // The hand-painted parts, for the accessibility interfaces: the widget of the result
  // list, where row `index` lies in it (empty outside the list), and where a mode's tab lies
  // in this view.
  QWidget& list() const;
  QRect rowRect(int index) const;
  QRect tabRect(SearchModel::Mode mode) const;
  // The model has one observer slot; the panel controller owns it and forwards every change
  // here.
  void modelChanged(SearchModel::Field field);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  class List;
  // Repaints parts of the list's rows (given in this view's coordinates), with the field if
  // the query changed since.
  void repaintRows(QRegion rows);
  // How much of the mode tabs the footer has room for beside the key hints.
  enum class TabDetail { full, titles, current };

  void layoutHeader();
  void layoutTabs();
  void paintHeader(QPainter& painter) const;
  void paintFooter(QPainter& painter) const;
  void paintTabs(QPainter& painter) const;
  // The mode whose tab lies under `point`, if any.
  std::optional<SearchModel::Mode> tabAt(QPointF point) const;

  SearchModel& model_;
  LogoMark* logo_;
  SearchField* field_;
  List* list_;
  CardPicture background_;  // the card without its texts, drawn once
  bool translucent_ = false;
  bool fieldChanged_ = false;     // since the rows were last repainted
  QRectF badge_;                  // empty in mode all
  std::array<QRectF, 4> tabs_{};  // in the order of the modes; empty when not shown
  TabDetail tabDetail_ = TabDetail::full;
  std::vector<Key> hints_;  // for the selected row
  std::optional<SearchModel::Mode> pressedTab_;
};

}  // namespace varek
