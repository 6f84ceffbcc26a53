// The desktop suites run inside the application the launcher itself runs in: its event
// loop, the clipboard and, for the panel, widgets on a real display.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
