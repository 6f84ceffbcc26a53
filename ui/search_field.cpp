#include "ui/search_field.h"

#include <QPalette>

#include "ui/glut.h"

namespace varek {
namespace {

constexpr qreal kTextSize = 23;
constexpr qreal kPlaceholderOpacity = 0.32;

}  // namespace

SearchField::SearchField(SearchModel& model, QWidget* parent) : QLineEdit(parent), model_(model) {
  setObjectName(QString::fromLatin1(kIdentifier));
  // Screen readers announce the field by this name; the placeholder changes with the mode.
  setAccessibleName(QStringLiteral("Suche"));
  setFont(systemFont(kTextSize, QFont::Normal));
  setFrame(false);
  setAttribute(Qt::WA_MacShowFocusRect, false);
  QPalette colors = palette();
  for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    colors.setColor(group, QPalette::Base, Qt::transparent);
    colors.setColor(group, QPalette::Text, Qt::white);
    colors.setColor(group, QPalette::PlaceholderText, white(kPlaceholderOpacity));
  }
  setPalette(colors);
  // Only the user's edits go to the model; texts set by showQuery() come from it.
  connect(this, &QLineEdit::textEdited, this,
          [this](const QString& text) { model_.setQuery(text.toStdString()); });
}

void SearchField::showQuery() {
  const QString query = QString::fromStdString(model_.query());
  if (text() != query) setText(query);  // setText puts the caret at the end
}

void SearchField::keyReleaseEvent(QKeyEvent* event) { QWidget::keyReleaseEvent(event); }

void SearchField::showPlaceholder(const QString& placeholder) {
  if (placeholderText() != placeholder) setPlaceholderText(placeholder);
}

}  // namespace varek
