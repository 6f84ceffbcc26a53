// More for the tests on the private desktop (see desktop_session.h): fixture files and
// stand-in tools, and what the X server tells any client about windows (through xprop and
// xwininfo, not our reads). Stand-ins for session services are in fake_dbus_service.h.
#pragma once

#include <QProcess>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/geometry.h"
#include "sources/commands.h"
#include "tests/support/desktop_session.h"
#include "tests/support/files.h"

namespace varek::test {

// A shell script only its owner may run, as a stand-in for a tool.
inline void writeScript(const std::filesystem::path& file, const std::string& body) {
  writeFile(file, "#!/bin/sh\n" + body);
  std::filesystem::permissions(file, std::filesystem::perms::owner_all);
}

// output() for the standard library's strings.
inline std::string run(const std::string& program, const std::vector<std::string>& arguments) {
  QStringList list;
  for (const std::string& argument : arguments) list << QString::fromStdString(argument);
  return output(QString::fromStdString(program), list).toStdString();
}

namespace detail {
// The number that xwininfo prints after the label, or -1.
inline double field(const std::string& text, const std::string& label) {
  const std::size_t at = text.find(label);
  return at == std::string::npos ? -1 : std::strtod(text.c_str() + at + label.size(), nullptr);
}
}  // namespace detail

inline Rect rootFrame() {
  const std::string info = run("xwininfo", {"-root"});
  return {0, 0, detail::field(info, "Width:"), detail::field(info, "Height:")};
}

// The window's frame with the window manager's decorations, in bottom-left coordinates.
inline Rect outerFrame(unsigned long window) {
  const std::string id = std::to_string(window);
  const std::string info = run("xwininfo", {"-id", id});
  const std::string extentsLine = run("xprop", {"-id", id, "_NET_FRAME_EXTENTS"});
  std::vector<double> extents;  // left, right, top, bottom
  std::istringstream in(extentsLine.substr(std::min(extentsLine.find('='), extentsLine.size())));
  in.ignore();
  for (std::string value; std::getline(in, value, ',');) extents.push_back(std::stod(value));
  extents.resize(4);
  const double width = detail::field(info, "Width:") + extents[0] + extents[1];
  const double height = detail::field(info, "Height:") + extents[2] + extents[3];
  const double top = detail::field(info, "Absolute upper-left Y:") - extents[2];
  return {detail::field(info, "Absolute upper-left X:") - extents[0],
          rootFrame().height - (top + height), width, height};
}

inline unsigned long activeWindow() {
  const std::string line = run("xprop", {"-root", "_NET_ACTIVE_WINDOW"});
  const std::size_t at = line.find("# ");
  return at == std::string::npos ? 0 : std::strtoul(line.c_str() + at + 2, nullptr, 16);
}

}  // namespace varek::test
