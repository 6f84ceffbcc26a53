// The hotkey's stored forms, its grab on the private desktop's X server, and the dialog
// that records another combination.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QPushButton>
#include <QTest>
#include <tuple>
#include <vector>

#include "app/hotkey.h"
#include "app/hotkey_dialog.h"
#include "app/x11_key_binder.h"
#include "tests/support/memory_defaults.h"
#include "tests/support/x11_client.h"

namespace varek {
namespace {

constexpr QKeyCombination kAltSpace(Qt::AltModifier, Qt::Key_Space);
constexpr QKeyCombination kCtrlK(Qt::ControlModifier, Qt::Key_K);
constexpr QKeyCombination kCtrlJ(Qt::ControlModifier, Qt::Key_J);

// The modifiers that the launcher grabs for the combination, plus extra ones.
std::uint16_t mask(QKeyCombination combination, std::uint16_t extra = 0) {
  return static_cast<std::uint16_t>(X11KeyBinder::modifiers(combination) | extra);
}

TEST(Hotkey, StoredTextReadsAsOneCombinationAndIsWrittenPortably) {
  // stored text, label of the combination read, what storing that combination writes
  const std::tuple<std::string, QString, std::string> rows[] = {
      {"Alt+Space", "Alt+Leertaste", "Alt+Space"},
      {"meta+space", "Super+Leertaste", "Meta+Space"},
      {"⌥ Leertaste", "Alt+Leertaste", "Alt+Space"},  // the labels stored before
      {"⌃ Leertaste", "Strg+Leertaste", "Ctrl+Space"},
      {"⌘ Leertaste", "Super+Leertaste", "Meta+Space"},
      {"Strg+Leertaste", "Strg+Leertaste", "Ctrl+Space"},  // the tray's own words
      {"Strg + Umschalt + Ä", "Strg+Umschalt+Ä", "Ctrl+Shift+Ä"},
      {"Super+Pos1", "Super+Pos1", "Meta+Home"},
      {"Ctrl++", "Strg++", "Ctrl++"},
      {"Alt+F12", "Alt+F12", "Alt+F12"},
      // Anything else is the first preset: no modifier, two combinations, garbage.
      {"K", "Alt+Leertaste", "Alt+Space"},
      {"Shift+K", "Alt+Leertaste", "Alt+Space"},
      {"Alt+Space, Ctrl+K", "Alt+Leertaste", "Alt+Space"},
      {"⌃ Leertaste ", "Alt+Leertaste", "Alt+Space"},
      {"", "Alt+Leertaste", "Alt+Space"},
  };
  for (const auto& [stored, label, written] : rows) {
    test::MemoryDefaults defaults;
    defaults.setString(Hotkey::kDefaultsKey, stored);
    Hotkey hotkey(defaults);
    const QKeyCombination read = hotkey.combination();
    EXPECT_EQ(Hotkey::label(read), label) << stored;
    hotkey.setCombination(read);
    EXPECT_EQ(defaults.string(Hotkey::kDefaultsKey), written) << stored;
    EXPECT_EQ(Hotkey::parse(label.toStdString()), read) << "the label reads back: " << stored;
  }
}

TEST(Hotkey, GrabsTheChosenCombinationOrNothing) {
  const std::pair<QKeyCombination, xcb_keysym_t> chosen[] = {
      {kAltSpace, ' '},
      {QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_K), 'k'},
      {QKeyCombination(Qt::MetaModifier, Qt::Key_F5), 0xffc2},
  };
  test::MemoryDefaults defaults;
  Hotkey hotkey(defaults);
  for (const auto& [combination, symbol] : chosen) {
    hotkey.setCombination(combination);
    ASSERT_TRUE(hotkey.registered()) << Hotkey::portableText(combination);
    test::OtherClient probe;
    EXPECT_FALSE(probe.grab(symbol, mask(combination))) << Hotkey::portableText(combination);
    EXPECT_FALSE(probe.grab(symbol, mask(combination, XCB_MOD_MASK_LOCK))) << "CapsLock on too";
  }
  // Taken elsewhere: neither the earlier combination nor a variant of this one stays ours.
  test::OtherClient desktop;
  ASSERT_TRUE(desktop.grab('k', mask(kCtrlK)));
  EXPECT_EQ(hotkey.grab(kCtrlK), Hotkey::Status::taken);
  EXPECT_FALSE(hotkey.registered());
  test::OtherClient probe;
  EXPECT_TRUE(probe.grab(chosen[2].second, mask(chosen[2].first)));
  EXPECT_TRUE(probe.grab('k', mask(kCtrlK, XCB_MOD_MASK_LOCK)));
  EXPECT_EQ(hotkey.grab(QKeyCombination(Qt::Key_K)), Hotkey::Status::refused) << "no modifier";
}

TEST(Hotkey, KeysHeldDownPressOnce) {
  constexpr std::uint8_t kPress = XCB_KEY_PRESS, kRelease = XCB_KEY_RELEASE, kSent = 0x80;
  constexpr std::uint16_t kAlt = XCB_MOD_MASK_1;
  struct Key {
    std::uint8_t type;
    std::uint32_t time;
    std::uint16_t state = kAlt;
    bool onRoot = true;
  };
  const std::tuple<const char*, std::vector<Key>, int> rows[] = {
      {"two presses", {{kPress, 1}, {kRelease, 2}, {kPress, 5}, {kRelease, 6}}, 2},
      {"repeats as presses alone", {{kPress, 1}, {kPress, 2}, {kPress, 3}, {kRelease, 4}}, 1},
      {"repeats as a release and a press at one time",
       {{kPress, 1}, {kRelease, 2}, {kPress, 2}, {kRelease, 3}, {kPress, 3}, {kRelease, 4}},
       1},
      {"Shift as well", {{kPress, 1, kAlt | XCB_MOD_MASK_SHIFT}}, 0},
      {"typed into a window of ours", {{kPress, 1, kAlt, false}}, 0},
      {"sent by a client", {{kPress | kSent, 1}}, 1},
  };
  test::OtherClient display;
  for (const auto& [name, keys, expected] : rows) {
    X11KeyBinder binder;
    int presses = 0;
    binder.setOnPress([&] { ++presses; });
    ASSERT_EQ(binder.bind(kAltSpace), KeyBinder::Status::registered);
    for (const Key& key : keys) {
      xcb_key_press_event_t event{};
      event.response_type = key.type;
      event.detail = display.keycode(' ');
      event.time = key.time;
      event.root = display.root();
      event.event = key.onRoot ? display.root() : display.root() + 1;
      event.state = key.state;
      binder.nativeEventFilter("xcb_generic_event_t", &event, nullptr);
    }
    EXPECT_EQ(presses, expected) << name;
  }
}

// Each row presses keys in the dialog (the second while the first is still held), then
// reads what it says and what "Übernehmen" stores.
TEST(HotkeyDialog, RecordsTheFirstCombinationAndSaysWhetherItIsFree) {
  const QString free = "Strg+K ist frei. Mit „Übernehmen“ öffnet es künftig Varek.";
  const QString taken =
      "Strg+J ist belegt. In den Tastenkürzel-Einstellungen der Arbeitsumgebung freigeben oder "
      "hier ein anderes Kürzel wählen.";
  const QString alone =
      "„K“ allein geht nicht: Varek würde die Taste beim Tippen in jedem Programm abfangen. Bitte "
      "zusammen mit Strg, Alt oder Super drücken.";
  // keys pressed, message, what is stored after "Übernehmen"
  const std::tuple<std::vector<QKeyCombination>, QString, std::string> rows[] = {
      {{kCtrlK}, free, "Ctrl+K"},
      {{kCtrlK, kCtrlJ}, free, "Ctrl+K"},  // a sequence of two is cut to its first
      {{kCtrlJ}, taken, "Alt+Space"},
      {{QKeyCombination(Qt::Key_K)}, alone, "Alt+Space"},
  };
  test::OtherClient desktop;
  ASSERT_TRUE(desktop.grab('j', mask(kCtrlJ)));
  for (const auto& [keys, message, stored] : rows) {
    test::MemoryDefaults defaults;
    Hotkey hotkey(defaults);
    ASSERT_TRUE(hotkey.registerKey());
    HotkeyDialog dialog(hotkey, [&](QKeyCombination combination) {
      hotkey.setCombination(combination);
      return hotkey.registered();
    });
    EXPECT_FALSE(hotkey.registered()) << "its own grab would swallow the current combination";
    for (QKeyCombination key : keys) {
      QTest::keyPress(&dialog.recorder(), key.key(), key.keyboardModifiers());
    }
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
      QTest::keyRelease(&dialog.recorder(), key->key(), key->keyboardModifiers());
    }
    const std::string name = message.left(20).toStdString();
    EXPECT_EQ(dialog.recorder().keySequence().count(), 1) << name;
    EXPECT_EQ(dialog.message(), message) << name;
    EXPECT_EQ(dialog.applyButton().isEnabled(), message == free) << name;
    dialog.applyButton().click();
    EXPECT_EQ(defaults.string(Hotkey::kDefaultsKey).value_or("Alt+Space"), stored) << name;
    if (message != free) dialog.reject();
    EXPECT_TRUE(hotkey.registered()) << "either way out grabs again: " << name;
  }
}

}  // namespace
}  // namespace varek
