#include "platform/wayland/sway_ipc.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

namespace varek {
namespace {

using Message = SwayIpc::Message;

// Runs under scripts/with-sway.
TEST(SwayIpc, asksCommandsAndHearsEvents) {
  SwayIpc ipc;
  ASSERT_TRUE(ipc.connected());
  const auto outputs = nlohmann::json::parse(ipc.request(Message::getOutputs).value_or("null"));
  ASSERT_TRUE(outputs.is_array());
  EXPECT_EQ(outputs.at(0).value("name", ""), "HEADLESS-1");

  EXPECT_TRUE(ipc.command("nop first, nop second"));
  EXPECT_FALSE(ipc.command("nop fine, no-such-command"));
  EXPECT_NE(ipc.error().find("no-such-command"), std::string::npos) << ipc.error();

  SwayIpc listener(ipc.socket());
  ASSERT_TRUE(listener.subscribe({"tick"}));
  // The subscription itself sends a first tick; a second carries our payload.
  ASSERT_TRUE(ipc.request(Message::sendTick, "varek"));
  std::string heard;
  for (int turn = 0; turn < 100 && heard.find("varek") == std::string::npos; ++turn) {
    for (const SwayIpc::Received& event : listener.events()) {
      EXPECT_EQ(event.type, static_cast<std::uint32_t>(SwayIpc::Event::tick));
      heard += event.payload;
    }
    if (heard.find("varek") == std::string::npos) usleep(10000);
  }
  EXPECT_NE(heard.find("\"payload\": \"varek\""), std::string::npos) << heard;
}

TEST(SwayIpc, isAbsentWithoutASocket) {
  SwayIpc ipc("/nonexistent/sway-ipc.sock");
  EXPECT_FALSE(ipc.connected());
  EXPECT_FALSE(ipc.request(Message::getVersion));
  EXPECT_FALSE(ipc.command("nop"));
  EXPECT_TRUE(ipc.events().empty());
}

}  // namespace
}  // namespace varek
