// What a screen reader reads of the panel through Qt's accessibility interfaces, and the
// events that make it follow the selection; atspi_check.py reads the same over AT-SPI.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <utility>
#include <vector>

#include "search/search_model.h"
#include "tests/support/desktop_session.h"
#include "tests/support/fake_platform.h"
#include "ui/root_view.h"
#include "ui/search_field.h"

namespace varek {
namespace {

// Qt's update handler is a plain function, so what it hears (event, child) is kept here.
std::vector<std::pair<QAccessible::Event, int>>& sent() {
  static std::vector<std::pair<QAccessible::Event, int>> events;
  return events;
}
void record(QAccessibleEvent* event) { sent().emplace_back(event->type(), event->child()); }

struct AccessibilityTest : ::testing::Test {
  test::FakePlatform fake;
  std::shared_ptr<SearchModel> model;
  std::unique_ptr<RootView> view;
  QAccessible::UpdateHandler previous = QAccessible::installUpdateHandler(record);

  AccessibilityTest() {
    for (const std::string name : {"Safari", "Sandbox"}) {
      fake.appScanner.apps.push_back(
          {.name = name, .alternateName = "", .path = "/apps/" + name + ".desktop", .url = {}});
    }
    model = SearchModel::create(fake.platform());
    view = std::make_unique<RootView>(*model);
    model->setObserver([this](SearchModel::Field field) { view->modelChanged(field); });
    model->setQuery("sa");
    sent().clear();
  }
  ~AccessibilityTest() override { QAccessible::installUpdateHandler(previous); }

  QAccessibleInterface* list() const {
    return QAccessible::queryAccessibleInterface(&view->list());
  }
  QAccessibleInterface* tabs() const {
    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(view.get());
    return root->child(root->childCount() - 1);
  }
  static bool wasSent(QAccessible::Event type, int child) {
    return std::ranges::count(sent(), std::pair{type, child}) > 0;
  }
};

// The field is read by name, the list as a list of its rows, the tabs as tabs named by
// their mode with the current one selected; pressing a tab switches the mode.
TEST_F(AccessibilityTest, FieldListAndTabsAreNamed) {
  QAccessibleInterface* field = QAccessible::queryAccessibleInterface(&view->field());
  EXPECT_EQ(field->role(), QAccessible::EditableText);
  EXPECT_EQ(field->text(QAccessible::Name), "Suche");
  EXPECT_EQ(list()->role(), QAccessible::List);
  EXPECT_EQ(list()->childCount(), static_cast<int>(model->items().size()));
  EXPECT_EQ(list()->child(0)->role(), QAccessible::ListItem);
  EXPECT_EQ(list()->indexOfChild(list()->child(1)), 1);

  ASSERT_EQ(tabs()->role(), QAccessible::PageTabList);
  ASSERT_EQ(tabs()->childCount(), 4);
  const char* titles[] = {"Alles", "Dateien", "Zwischenablage", "Fenster"};
  for (int index = 0; index < 4; ++index) {
    EXPECT_EQ(tabs()->child(index)->role(), QAccessible::PageTab);
    EXPECT_EQ(tabs()->child(index)->text(QAccessible::Name), titles[index]);
    EXPECT_EQ(tabs()->child(index)->state().selected, index == 0);
  }
  tabs()->child(3)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_EQ(model->mode(), SearchModel::Mode::windows);
  EXPECT_TRUE(tabs()->child(3)->state().selected && !tabs()->child(0)->state().selected);
}

// A row reads as its title, then its subtitle and kind; a row that waits for a second
// Return reads the request instead of its subtitle.
TEST_F(AccessibilityTest, RowsReadTitleThenSubtitleAndKind) {
  const Item& first = model->items()[0];
  QAccessibleInterface* row = list()->child(0);
  EXPECT_EQ(row->text(QAccessible::Name), QString::fromStdString(first.title));
  const QString kind = QString::fromStdString(std::string(label(first.kind)));
  EXPECT_EQ(row->text(QAccessible::Description),
            first.subtitle.empty() ? kind : QString::fromStdString(first.subtitle) + ", " + kind);

  model->setQuery("neustart");
  model->activate(SearchModel::Action::open);
  ASSERT_TRUE(model->confirmID().has_value());
  EXPECT_EQ(list()->child(0)->text(QAccessible::Description),
            "Nochmal Eingabe zum Bestätigen, Befehl");
}

// The selected row is the selected and focused one, while the keyboard stays in the field.
TEST_F(AccessibilityTest, SelectedRowIsFocused) {
  ASSERT_GE(model->items().size(), 2u);
  model->move(1);
  EXPECT_TRUE(list()->child(1)->state().selected);
  EXPECT_TRUE(list()->child(1)->state().focused);
  EXPECT_FALSE(list()->child(0)->state().selected);
  EXPECT_EQ(list()->focusChild(), list()->child(1));
}

// A reader hears of a moved selection and of a row that asks for confirmation; a search that
// keeps the selected row in its place keeps its interface and stays quiet. Qt passes events
// on only to a listening bus: scripts/with-desktop starts one with VAREK_ACCESSIBILITY=1.
TEST_F(AccessibilityTest, ChangesAreAnnounced) {
  if (qEnvironmentVariable("VAREK_ACCESSIBILITY") != "1") GTEST_SKIP() << "no accessibility bus";
  // Qt's bridge joins the bus from the event loop.
  ASSERT_TRUE(test::waitFor([] { return QAccessible::isActive(); }));
  QAccessibleInterface* first = list()->child(0);
  model->search();
  EXPECT_EQ(list()->child(0), first);
  EXPECT_FALSE(wasSent(QAccessible::Focus, 0));

  model->move(1);
  for (const QAccessible::Event type :
       {QAccessible::Selection, QAccessible::Focus, QAccessible::ActiveDescendantChanged}) {
    EXPECT_TRUE(wasSent(type, 1)) << type;
  }
  EXPECT_TRUE(wasSent(QAccessible::Selection, 0)) << "the row that lost the selection";

  model->setQuery("neustart");
  model->activate(SearchModel::Action::open);
  EXPECT_TRUE(wasSent(QAccessible::DescriptionChanged, 0));
}

}  // namespace
}  // namespace varek
