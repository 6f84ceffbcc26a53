// The one-line input at the top of the panel, bound both ways to the model's query: every
// edit writes the whole text into the model (which searches), and a query set elsewhere (a
// reset, Escape, a control signal) is shown here. It handles no special keys itself; the
// panel controller takes Return, Escape, the arrows and the shortcuts first.
#pragma once

#include <QLineEdit>

#include "search/search_model.h"

namespace varek {

class SearchField : public QLineEdit {
  Q_OBJECT

 public:
  // The panel controller finds the field by this object name.
  static constexpr const char* kIdentifier = "varek.search";

  explicit SearchField(SearchModel& model, QWidget* parent = nullptr);

  // Shows the model's query with the caret at its end. A text equal to the field's own is
  // left alone, so the user's typing keeps its caret and selection.
  void showQuery();
  // Replaces the placeholder unless it is already this text.
  void showPlaceholder(const QString& placeholder);

 protected:
  // A released key changes nothing here; Qt's line edit would restart its caret blink on
  // it and draw the caret once more after the keystroke's frame.
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  SearchModel& model_;
};

}  // namespace varek
