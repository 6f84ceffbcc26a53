#include "ui/varek_panel.h"

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <QBackingStore>
#include <QEvent>
#include <QGuiApplication>
#include <QPainterPath>
#include <QRegion>
#include <QTimer>
#include <QTransform>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#ifdef VAREK_WAYLAND
#include "ui/sway_scratchpad.h"
#endif

namespace varek {
namespace {

// The panel's middle sits 60 pixels below the line at 72 % of the visible height.
constexpr double kLineShare = 0.72;
constexpr double kBelowLine = 60;

// The window-manager properties the panel sets and reads, and the selection a compositor
// owns (the screen's number is appended), interned once per panel.
constexpr std::array<const char*, 7> kAtomNames = {"_NET_WM_STATE",
                                                   "_NET_WM_STATE_SKIP_TASKBAR",
                                                   "_NET_WM_STATE_SKIP_PAGER",
                                                   "_NET_WM_STATE_STICKY",
                                                   "_NET_WM_DESKTOP",
                                                   "_NET_ACTIVE_WINDOW",
                                                   "_NET_WM_CM_S"};
enum Atom : std::size_t {
  netWmState,
  skipTaskbar,
  skipPager,
  sticky,
  netWmDesktop,
  netActiveWindow,
  compositorSelection
};
// The card's corner radius, which the window is cut to without a compositor.
constexpr qreal kCornerRadius = 22;
// The _NET_WM_DESKTOP value that means "on every workspace".
constexpr std::uint32_t kAllDesktops = 0xFFFFFFFF;

// sway maps a window a frame or two after Qt shows it; a command for the window is tried
// again this often, for at most a second.
constexpr int kSwayRetryMs = 10;
constexpr int kSwayRetries = 100;

struct FreeReply {
  void operator()(void* reply) const { std::free(reply); }
};
template <typename Reply>
using Owned = std::unique_ptr<Reply, FreeReply>;

// Qt's own connection to the X server, or nothing on another windowing system.
xcb_connection_t* x11Connection() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->connection() : nullptr;
}

}  // namespace

VarekPanel::VarekPanel(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setFixedSize(kWidth, kHeight);
  setWindowTitle(QStringLiteral("Varek"));
  // Mapped by the server at once rather than after a trip through the window manager,
  // which took most of an opening's time; the panel places itself, takes the keyboard
  // itself and gives it back itself (dismiss()).
  if (QGuiApplication::platformName() == QLatin1String("xcb")) {
    setWindowFlag(Qt::X11BypassWindowManagerHint);
  }
  internAtoms();
  // The visual is chosen as the native window is created. One with an alpha channel is
  // only of use where a compositor blends it: without one the X server copies each of its
  // drawings once more, and Qt clears each area before it is painted. A compositor that
  // starts later finds the panel opaque, cut to the card, until the launcher starts again.
  setAttribute(Qt::WA_TranslucentBackground, compositorRuns());
  composited_ = testAttribute(Qt::WA_TranslucentBackground);
  // The card covers the window: nothing needs filling below it.
  setAttribute(Qt::WA_NoSystemBackground);
  winId();
  markAsPanel();

#ifdef VAREK_WAYLAND
  if (QGuiApplication::platformName() == QLatin1String("wayland") &&
      !qEnvironmentVariableIsEmpty("SWAYSOCK")) {
    sway_ = std::make_unique<SwayScratchpad>(kAppId);
    if (!sway_->connected() || !sway_->addRuleOnce()) sway_.reset();
  }
#endif
}

void VarekPanel::internAtoms() {
  xcb_connection_t* connection = x11Connection();
  if (!connection) return;
  std::array<xcb_intern_atom_cookie_t, kAtomNames.size()> cookies{};
  // A compositing manager owns the selection named after the screen's number.
  char* host = nullptr;
  int display = 0;
  int screen = 0;
  if (xcb_parse_display(nullptr, &host, &display, &screen) != 0) std::free(host);
  std::array<std::string, kAtomNames.size()> names;
  std::copy(kAtomNames.begin(), kAtomNames.end(), names.begin());
  names[compositorSelection] += std::to_string(screen);
  for (std::size_t index = 0; index < names.size(); ++index) {
    cookies[index] = xcb_intern_atom(connection, 0, names[index].size(), names[index].c_str());
  }
  for (const xcb_intern_atom_cookie_t cookie : cookies) {
    const Owned<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr));
    if (!reply) {
      atoms_.clear();
      return;
    }
    atoms_.push_back(reply->atom);
  }
}

QPoint VarekPanel::origin(const QRect& visibleFrame) {
  const double width = visibleFrame.width();
  const double height = visibleFrame.height();
  // Counted upwards from the frame's bottom edge the panel's bottom lies at
  // 0.72 × height − 235 − 60; its top edge is a panel height above that.
  const double bottomAboveFrameBottom = kLineShare * height - kHeight / 2.0 - kBelowLine;
  const double topBelowFrameTop = height - (bottomAboveFrameBottom + kHeight);
  return {static_cast<int>(std::lround(visibleFrame.left() + width / 2 - kWidth / 2.0)),
          static_cast<int>(std::lround(visibleFrame.top() + topBelowFrameTop))};
}

VarekPanel::~VarekPanel() = default;

void VarekPanel::present() {
#ifdef VAREK_WAYLAND
  if (sway_) {
    shownOnSway_ = true;
    // Also when sway's binding showed it already: Qt may not know yet whether it has the
    // focus, and sway's answer is as quick as the question.
    if (!isVisible()) show();
    commandSway([](SwayScratchpad& sway) { return sway.show(); });
    return;
  }
#endif
  rememberActiveWindow();
  composited_ = testAttribute(Qt::WA_TranslucentBackground) && compositorRuns();
  // Unblended, the clear corners around the card would show black.
  cutToCard(!composited_);
  show();
  raise();
  activateWindow();
  takeKeyboardFocus();
}

bool VarekPanel::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  // An update request paints what changed and sends it to the server.
  if (event->type() == QEvent::UpdateRequest) settleAfterFrame();
  return handled;
}

void VarekPanel::settleAfterFrame() {
  // Only on X11. In a window with an alpha channel, preparing to paint clears the pixels.
  if (settling_ || atoms_.empty() || testAttribute(Qt::WA_TranslucentBackground)) return;
  settling_ = true;
  QTimer::singleShot(0, this, [this] {
    settling_ = false;
    QBackingStore* store = backingStore();
    // Until the server exposes the window, Qt has painted nothing and holds no pixels.
    if (!store || !isVisible() || !windowHandle()->isExposed()) return;
    // Nothing is painted: the pixels stay as they are, and Qt has waited for the server.
    store->beginPaint(QRegion(rect()));
    store->endPaint();
  });
}

void VarekPanel::dismiss() {
#ifdef VAREK_WAYLAND
  if (sway_) {
    shownOnSway_ = false;
    commandSway([](SwayScratchpad& sway) { return sway.hide(); });
    return;
  }
#endif
  hide();
  returnFocus();
}

void VarekPanel::rememberActiveWindow() {
  xcb_connection_t* connection = x11Connection();
  if (!connection || atoms_.empty() || isVisible()) return;
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
  const Owned<xcb_get_property_reply_t> reply(xcb_get_property_reply(
      connection,
      xcb_get_property(connection, 0, root, atoms_[netActiveWindow], XCB_ATOM_WINDOW, 0, 1),
      nullptr));
  previousWindow_ = 0;
  if (reply && reply->format == 32 && reply->value_len == 1) {
    previousWindow_ = *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
  }
}

// The window manager never knew the panel, so it does not pass the focus on when the panel
// goes: the window active before gets it back by the same request a taskbar makes.
void VarekPanel::returnFocus() {
  xcb_connection_t* connection = x11Connection();
  if (!connection || atoms_.empty() || previousWindow_ == 0) return;
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = previousWindow_;
  message.type = atoms_[netActiveWindow];
  message.data.data32[0] = 2;  // from a pager or taskbar: the user asked for it
  message.data.data32[1] = XCB_CURRENT_TIME;
  xcb_send_event(connection, 0, root,
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&message));
  // Window managers that took the request as already done (the window was theirs to focus
  // all along) leave the focus where the server put it: on nothing. It is set here too.
  xcb_set_input_focus(connection, XCB_INPUT_FOCUS_PARENT, previousWindow_, XCB_CURRENT_TIME);
  xcb_flush(connection);
}

bool VarekPanel::shown() const { return sway_ ? shownOnSway_ : isVisible(); }

void VarekPanel::prepare() {
  // The rule puts the window in the scratchpad as it maps.
  if (sway_ && !isVisible()) show();
}

std::optional<VarekPanel::CompositorState> VarekPanel::compositorState() {
#ifdef VAREK_WAYLAND
  if (!sway_) return std::nullopt;
  if (const std::optional<SwayScratchpad::Window> window = sway_->window()) {
    return CompositorState{.visible = window->visible, .focused = window->focused};
  }
#endif
  return std::nullopt;
}

void VarekPanel::commandSway(std::function<bool(SwayScratchpad&)> command) {
#ifdef VAREK_WAYLAND
  const int call = ++swayCommands_;
  auto attempt = std::make_shared<std::function<void(int)>>();
  *attempt = [this, call, command = std::move(command), weak = std::weak_ptr(attempt)](int left) {
    if (call != swayCommands_ || command(*sway_) || left == 0) return;
    QTimer::singleShot(kSwayRetryMs, this, [retry = weak.lock(), left] {
      if (retry) (*retry)(left - 1);
    });
  };
  (*attempt)(kSwayRetries);
#else
  (void)command;
#endif
}

void VarekPanel::markAsPanel() {
  xcb_connection_t* connection = x11Connection();
  if (!connection || atoms_.empty()) return;
  const auto window = static_cast<xcb_window_t>(winId());
  // Qt adds its own states, such as staying above, when it maps the window, and keeps these.
  const std::array<xcb_atom_t, 3> states = {atoms_[skipTaskbar], atoms_[skipPager], atoms_[sticky]};
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atoms_[netWmState], XCB_ATOM_ATOM,
                      32, states.size(), states.data());
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atoms_[netWmDesktop],
                      XCB_ATOM_CARDINAL, 32, 1, &kAllDesktops);
}

// The X server cuts the window by its SHAPE extension. A widget mask would do the same,
// but Qt then clips every repaint to it and sends a repaint that reaches a corner as one
// drawing per row of pixels there; the server cuts one whole drawing itself.
void VarekPanel::cutToCard(bool cut) {
  QPainterPath card;
  card.addRoundedRect(QRectF(0, 0, kWidth, kHeight), kCornerRadius, kCornerRadius);
  xcb_connection_t* connection = x11Connection();
  const xcb_query_extension_reply_t* shape =
      connection ? xcb_get_extension_data(connection, &xcb_shape_id) : nullptr;
  if (!shape || !shape->present) {
    if (cut) {
      setMask(QRegion(card.toFillPolygon().toPolygon()));
    } else {
      clearMask();
    }
    return;
  }
  const auto window = static_cast<xcb_window_t>(winId());
  if (!cut) {
    xcb_shape_mask(connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, window, 0, 0, XCB_NONE);
    return;
  }
  // The server counts device pixels.
  const qreal scale = devicePixelRatioF();
  const QRegion outline(QTransform::fromScale(scale, scale).map(card).toFillPolygon().toPolygon());
  std::vector<xcb_rectangle_t> rectangles;
  for (const QRect& part : outline) {
    rectangles.push_back({static_cast<std::int16_t>(part.x()), static_cast<std::int16_t>(part.y()),
                          static_cast<std::uint16_t>(part.width()),
                          static_cast<std::uint16_t>(part.height())});
  }
  xcb_shape_rectangles(connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING,
                       XCB_CLIP_ORDERING_UNSORTED, window, 0, 0,
                       static_cast<std::uint32_t>(rectangles.size()), rectangles.data());
}

bool VarekPanel::compositorRuns() const {
  xcb_connection_t* connection = x11Connection();
  if (!connection || atoms_.empty()) return QGuiApplication::platformName() != QLatin1String("xcb");
  const Owned<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
      connection, xcb_get_selection_owner(connection, atoms_[compositorSelection]), nullptr));
  return owner && owner->owner != XCB_NONE;
}

// Qt activates a window only once it has seen the window manager map it, a trip through
// the event loop; keys typed meanwhile would reach the window that had the focus before.
// So the panel waits here for the mapping and takes the focus itself.
void VarekPanel::takeKeyboardFocus() {
  xcb_connection_t* connection = x11Connection();
  if (!connection) return;
  const auto window = static_cast<xcb_window_t>(winId());
  // No window manager maps the panel: the server has mapped it when it reaches this.
  xcb_set_input_focus(connection, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
  // A round trip: once it returns, the server has moved the focus, so any key pressed
  // after this call reaches the panel.
  const Owned<xcb_get_input_focus_reply_t> focus(
      xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

}  // namespace varek
