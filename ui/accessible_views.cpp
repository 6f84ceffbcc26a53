#include "ui/accessible_views.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/root_view.h"

namespace varek::accessibility {
namespace {

using Mode = SearchModel::Mode;

constexpr std::array kModes{Mode::all, Mode::files, Mode::clipboard, Mode::windows};

const QString kListName = QStringLiteral("Treffer");
const QString kTabListName = QStringLiteral("Modus");
// The words the row paints in place of its subtitle while it waits for the second Return.
const QString kConfirmation = QStringLiteral("Nochmal Eingabe zum Bestätigen");
const QString kSeparator = QStringLiteral(", ");

QString fromUtf8(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QRect onScreen(const QWidget& widget, const QRect& rect) {
  return rect.isEmpty() ? QRect() : QRect(widget.mapToGlobal(rect.topLeft()), rect.size());
}

// Sends an event about child `index` of the widget's interface, as Qt's own item views do.
void send(QObject* widget, QAccessible::Event type, int index) {
  QAccessibleEvent event(widget, type);
  event.setChild(index);
  QAccessible::updateAccessibility(&event);
}

// A part that its parent paints, with no widget of its own; pressing it does what a click
// does. Qt's cache owns it once registered; the parent deletes it by its id.
class PaintedPart : public QAccessibleInterface, public QAccessibleActionInterface {
 public:
  PaintedPart(QAccessibleInterface* parent, RootView& view, int index)
      : parent_(parent), view_(view), index_(index) {}

  int index() const { return index_; }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override { return parent_->window(); }
  QAccessibleInterface* parent() const override { return parent_; }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QAccessibleInterface* focusChild() const override { return nullptr; }
  void setText(QAccessible::Text, const QString&) override {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                : nullptr;
  }
  QStringList actionNames() const override { return {pressAction()}; }
  QStringList keyBindingsForAction(const QString&) const override { return {}; }
  void doAction(const QString& name) override {
    if (name == pressAction() && isValid()) press();
  }

 protected:
  virtual void press() = 0;

  QAccessibleInterface* parent_;
  RootView& view_;
  int index_;
};

class RowPart : public PaintedPart {
 public:
  using PaintedPart::PaintedPart;

  bool isValid() const override { return index_ < static_cast<int>(view_.model().items().size()); }
  QAccessible::Role role() const override { return QAccessible::ListItem; }

  QString text(QAccessible::Text type) const override {
    if (!isValid()) return {};
    const Item& item = view_.model().items()[index_];
    if (type == QAccessible::Name) return fromUtf8(item.title);
    if (type != QAccessible::Description) return {};
    const auto& confirmID = view_.model().confirmID();
    const QString detail =
        confirmID && *confirmID == item.id ? kConfirmation : fromUtf8(item.subtitle);
    const QString kind = fromUtf8(label(item.kind));
    return detail.isEmpty() ? kind : detail + kSeparator + kind;
  }

  QAccessible::State state() const override {
    QAccessible::State state;
    state.selectable = true;
    state.focusable = true;
    state.selected = state.focused = isValid() && index_ == view_.model().selection();
    state.offscreen = !view_.list().rect().intersects(view_.rowRect(index_));
    return state;
  }

  QRect rect() const override { return onScreen(view_.list(), view_.rowRect(index_)); }

 private:
  // A click selects the row, then runs it or asks for its confirmation.
  void press() override {
    SearchModel& model = view_.model();
    if (model.selection() != index_) model.setSelection(index_);
    model.activate(SearchModel::Action::open);
  }

  std::string id_;
};

class TabPart : public PaintedPart {
 public:
  using PaintedPart::PaintedPart;

  bool isValid() const override { return true; }
  QAccessible::Role role() const override { return QAccessible::PageTab; }
  QString text(QAccessible::Text type) const override {
    return type == QAccessible::Name ? fromUtf8(title(kModes[index_])) : QString();
  }
  QAccessible::State state() const override {
    QAccessible::State state;
    state.selectable = true;
    state.selected = view_.model().mode() == kModes[index_];
    return state;
  }
  QRect rect() const override { return onScreen(view_, view_.tabRect(kModes[index_])); }

 private:
  void press() override { view_.model().setMode(kModes[index_]); }
};

// The registered part interfaces of one parent by index, made on first use.
class Parts {
 public:
  Parts() = default;
  Parts(const Parts&) = delete;
  Parts& operator=(const Parts&) = delete;
  ~Parts() { drop(); }

  template <typename Make>
  QAccessibleInterface* at(int index, Make make) {
    auto [entry, made] = ids_.try_emplace(index, 0);
    if (made) entry->second = QAccessible::registerAccessibleInterface(make());
    return QAccessible::accessibleInterface(entry->second);
  }
  void drop() {
    for (const auto& [index, id] : ids_) QAccessible::deleteAccessibleInterface(id);
    ids_.clear();
  }
  void dropInvalid() {
    std::erase_if(ids_, [](const auto& entry) {
      if (QAccessible::accessibleInterface(entry.second)->isValid()) return false;
      QAccessible::deleteAccessibleInterface(entry.second);
      return true;
    });
  }

 private:
  std::map<int, QAccessible::Id> ids_;
};

int partIndex(const QAccessibleInterface* parent, const QAccessibleInterface* child) {
  const auto* part = dynamic_cast<const PaintedPart*>(child);
  return part && part->parent() == parent ? part->index() : -1;
}

// The result list: one item per row, the selected one its focus child.
class AccessibleList : public QAccessibleWidget {
 public:
  explicit AccessibleList(RootView& view)
      : QAccessibleWidget(&view.list(), QAccessible::List), view_(view) {}

  int childCount() const override { return static_cast<int>(view_.model().items().size()); }
  QAccessibleInterface* child(int index) const override {
    if (index < 0 || index >= childCount()) return nullptr;
    return rows_.at(index,
                    [&] { return new RowPart(const_cast<AccessibleList*>(this), view_, index); });
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    return partIndex(this, child);
  }
  QAccessibleInterface* childAt(int x, int y) const override {
    for (int index = 0; index < childCount(); ++index) {
      if (onScreen(view_.list(), view_.rowRect(index)).contains(x, y)) return child(index);
    }
    return nullptr;
  }
  QAccessibleInterface* focusChild() const override { return child(view_.model().selection()); }
  QString text(QAccessible::Text type) const override {
    return type == QAccessible::Name ? kListName : QAccessibleWidget::text(type);
  }

  // A row whose item is gone is dropped, so a reader asks for a new one; a row whose item
  // stays in its place keeps its interface, and the reader its focus there.
  void rowsChanged() {
    rows_.dropInvalid();
    announceSelection();
  }

  // Only a row other than the one last announced is announced, so file results that arrive
  // below an unchanged selection do not make the reader repeat it.
  void announceSelection() {
    const SearchModel& model = view_.model();
    const int selection = model.selection();
    if (selection < 0 || selection >= childCount()) return;
    const std::string& id = model.items()[selection].id;
    if (announced_ && announced_->index == selection && announced_->id == id) return;
    QObject* list = &view_.list();
    if (announced_ && announced_->index < childCount()) {
      send(list, QAccessible::Selection, announced_->index);
    }
    announced_ = Announced{selection, id};
    send(list, QAccessible::Selection, selection);
    send(list, QAccessible::Focus, selection);
    send(list, QAccessible::ActiveDescendantChanged, selection);
  }

  void confirmationChanged() {
    const SearchModel& model = view_.model();
    for (const auto& id : {confirming_, model.confirmID()}) {
      for (int index = 0; id && index < childCount(); ++index) {
        if (model.items()[index].id == *id)
          send(&view_.list(), QAccessible::DescriptionChanged, index);
      }
    }
    confirming_ = model.confirmID();
  }

 private:
  struct Announced {
    int index;
    std::string id;
  };

  RootView& view_;
  mutable Parts rows_;
  std::optional<Announced> announced_;
  std::optional<std::string> confirming_;
};

// The mode tabs, painted in the footer of the view.
class TabList : public QAccessibleInterface {
 public:
  TabList(QAccessibleInterface* parent, RootView& view)
      : parent_(parent), view_(view), shown_(view.model().mode()) {}

  bool isValid() const override { return true; }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override { return parent_->window(); }
  QAccessibleInterface* parent() const override { return parent_; }
  int childCount() const override { return static_cast<int>(kModes.size()); }
  QAccessibleInterface* child(int index) const override {
    if (index < 0 || index >= childCount()) return nullptr;
    return tabs_.at(index, [&] { return new TabPart(const_cast<TabList*>(this), view_, index); });
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    return partIndex(this, child);
  }
  QAccessibleInterface* childAt(int x, int y) const override {
    for (int index = 0; index < childCount(); ++index) {
      if (child(index)->rect().contains(x, y)) return child(index);
    }
    return nullptr;
  }
  QAccessibleInterface* focusChild() const override { return nullptr; }
  QAccessible::Role role() const override { return QAccessible::PageTabList; }
  QString text(QAccessible::Text type) const override {
    return type == QAccessible::Name ? kTabListName : QString();
  }
  void setText(QAccessible::Text, const QString&) override {}
  QAccessible::State state() const override { return {}; }
  QRect rect() const override {
    QRect all;
    for (const Mode mode : kModes) all |= view_.tabRect(mode);
    return onScreen(view_, all);
  }

  void modeChanged() {
    const Mode mode = view_.model().mode();
    for (const Mode changed : {shown_, mode}) {
      const auto index =
          static_cast<int>(std::find(kModes.begin(), kModes.end(), changed) - kModes.begin());
      QAccessibleEvent event(child(index), QAccessible::Selection);
      QAccessible::updateAccessibility(&event);
    }
    shown_ = mode;
  }

 private:
  QAccessibleInterface* parent_;
  RootView& view_;
  mutable Parts tabs_;
  Mode shown_;
};

// The view's own widgets as Qt describes them, then the tab list it paints.
class AccessibleView : public QAccessibleWidget {
 public:
  explicit AccessibleView(RootView& view) : QAccessibleWidget(&view), view_(view) {}
  ~AccessibleView() override {
    if (tabsId_) QAccessible::deleteAccessibleInterface(tabsId_);
  }

  int childCount() const override { return QAccessibleWidget::childCount() + 1; }
  QAccessibleInterface* child(int index) const override {
    return index == QAccessibleWidget::childCount() ? tabs() : QAccessibleWidget::child(index);
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    return child == tabs() ? QAccessibleWidget::childCount()
                           : QAccessibleWidget::indexOfChild(child);
  }

  TabList* tabs() const {
    if (!tabsId_) {
      tabsId_ = QAccessible::registerAccessibleInterface(
          new TabList(const_cast<AccessibleView*>(this), view_));
    }
    return static_cast<TabList*>(QAccessible::accessibleInterface(tabsId_));
  }

 private:
  RootView& view_;
  mutable QAccessible::Id tabsId_ = 0;
};

QAccessibleInterface* build(const QString&, QObject* object) {
  if (auto* view = qobject_cast<RootView*>(object)) return new AccessibleView(*view);
  auto* view = qobject_cast<RootView*>(object ? object->parent() : nullptr);
  if (view && object == &view->list()) return new AccessibleList(*view);
  return nullptr;
}

// Qt drops the events itself while no assistive technology listens; what is built here
// for them is a handful of interfaces, made once.
AccessibleList* listOf(RootView& view) {
  return dynamic_cast<AccessibleList*>(QAccessible::queryAccessibleInterface(&view.list()));
}

}  // namespace

void install() {
  static const bool installed = [] {
    QAccessible::installFactory(build);
    return true;
  }();
  (void)installed;
}

void rowsChanged(RootView& view) {
  if (AccessibleList* list = listOf(view)) list->rowsChanged();
}

void selectionChanged(RootView& view) {
  if (AccessibleList* list = listOf(view)) list->announceSelection();
}

void confirmationChanged(RootView& view) {
  if (AccessibleList* list = listOf(view)) list->confirmationChanged();
}

void modeChanged(RootView& view) {
  if (auto* root = dynamic_cast<AccessibleView*>(QAccessible::queryAccessibleInterface(&view))) {
    root->tabs()->modeChanged();
  }
}

}  // namespace varek::accessibility
