// The search of mode all: special rows picked by the shape of the text (a shell command,
// a web shortcut, a dictionary lookup, quitting an app, a calculation, an address), then
// fuzzy matches over applications, settings, commands, layouts and open windows, ranked
// on one scale and always closed by a general web search.
#include <unicode/regex.h>

#include <algorithm>
#include <cctype>
#include <memory>

#include "search/search_model.h"
#include "search/unicode.h"
#include "sources/calculator.h"

namespace varek {
namespace {

// Score bands: what the text's shape asks for outranks every fuzzy match (at most 1000).
constexpr double kSpecialScore = 3000;
constexpr double kQuitScore = 2500;
constexpr double kCalculatorScore = 2000;
constexpr double kAddressScore = 1500;
// Applications beat settings panes, commands and layouts of the same match quality.
constexpr double kSettingPenalty = 40;
constexpr double kCommandPenalty = 30;
constexpr double kLayoutPenalty = 60;
constexpr double kWindowPenalty = 150;
// A command must match well, unless the term is long enough to mean it.
constexpr double kCommandMinimum = 550;
constexpr double kCommandMinimumLongTerm = 300;
constexpr std::size_t kLongTermCharacters = 4;
constexpr double kLayoutMinimum = 550;
constexpr double kWindowMinimum = 600;
constexpr std::size_t kMaxRows = 30;
constexpr std::size_t kDefinitionPreview = 140;
constexpr double kLayoutDelaySeconds = 0.05;

// Characters that stay unescaped in a query value: the URL query set without the five
// that would end or split the value.
constexpr std::string_view kQueryValueAllowed = "!$'()*,-./:;@_~";
constexpr std::string_view kPathAllowed = "!$&'()*+,-./:=@_~";

std::string percentEncode(std::string_view text, std::string_view allowed) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(text.size());
  for (unsigned char byte : text) {
    const bool alphanumeric = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                              (byte >= '0' && byte <= '9');
    if (alphanumeric || (byte < 0x80 && allowed.find(static_cast<char>(byte)) != allowed.npos)) {
      encoded.push_back(static_cast<char>(byte));
    } else {
      encoded.push_back('%');
      encoded.push_back(kHex[byte >> 4]);
      encoded.push_back(kHex[byte & 0xF]);
    }
  }
  return encoded;
}

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The absolute form of an address typed or built here: a scheme is required, and what
// cannot stand in an address literally (non-ASCII, blanks, quotes) is percent-encoded.
std::optional<std::string> validAddress(std::string_view text) {
  const auto colon = text.find(':');
  if (colon == 0 || colon == std::string_view::npos) return std::nullopt;
  for (char byte : text.substr(0, colon)) {
    const bool schemeCharacter =
        std::isalnum(static_cast<unsigned char>(byte)) || byte == '+' || byte == '-' || byte == '.';
    if (!schemeCharacter) return std::nullopt;
  }
  std::string address;
  for (unsigned char byte : text) {
    if (byte <= 0x20 || byte >= 0x7F ||
        std::string_view("\"<>\\^`{|}").find(byte) != std::string_view::npos) {
      address += percentEncode(std::string_view(reinterpret_cast<const char*>(&byte), 1), "");
    } else {
      address.push_back(static_cast<char>(byte));
    }
  }
  return address;
}

bool looksLikeAddress(std::string_view term) {
  // Every address the pattern takes has a dot or begins with "localhost"; a plain word is
  // turned away before the regular expression engine is paged in on each keystroke.
  const bool mayBeLocalhost = !term.empty() && (term.front() == 'l' || term.front() == 'L');
  if (term.find('.') == std::string_view::npos && !mayBeLocalhost) return false;
  static const std::unique_ptr<icu::RegexPattern> pattern = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(
        icu::UnicodeString::fromUTF8(
            R"(^(https?://)?([\w-]+\.)+[a-z]{2,}(:\d+)?(/.*)?$|^localhost(:\d+)?(/.*)?$)"),
        UREGEX_CASE_INSENSITIVE, status));
    return U_SUCCESS(status) ? std::move(compiled) : nullptr;
  }();
  if (!pattern) return false;
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString text = icu::UnicodeString::fromUTF8(
      icu::StringPiece(term.data(), static_cast<int32_t>(term.size())));
  std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(text, status));
  return U_SUCCESS(status) && matcher->matches(status) && U_SUCCESS(status);
}

// Only a typed scheme counts, not a host that merely begins with the letters
// (httpbin.org, http.cat). The pattern matched without regard to case, so this does too.
bool hasWebScheme(std::string_view term) {
  auto startsWith = [term](std::string_view scheme) {
    return term.size() >= scheme.size() &&
           std::equal(scheme.begin(), scheme.end(), term.begin(), [](char lower, char typed) {
             return lower == std::tolower(static_cast<unsigned char>(typed));
           });
  };
  return startsWith("http://") || startsWith("https://");
}

std::string firstCharacters(std::string_view text, std::size_t count) {
  const auto boundaries = unicode::characterBoundaries(text);
  if (boundaries.size() <= count + 1) return std::string(text);
  return std::string(text.substr(0, boundaries[count]));
}

Item::Icon symbol(std::string name, SystemColor color) {
  return {Item::Icon::Symbol{std::move(name), color}};
}

// The words that find the launcher's settings row, German and English.
const Fuzzy::Target& settingsTarget() {
  static const Fuzzy::Target target(
      "Varek-Einstellungen einstellungen settings optionen kürzel tastenkürzel hotkey "
      "zwischenablage autostart");
  return target;
}

Item settingsItem(const std::function<void()>& show, double score) {
  return {.id = "settings",
          .title = "Varek-Einstellungen",
          .subtitle = "Tastenkürzel, Zwischenablage-Verlauf, beim Anmelden öffnen",
          .kind = Item::Kind::setting,
          .icon = symbol("gearshape.fill", SystemColor::gray),
          .score = score,
          .path = std::nullopt,
          .copyText = std::nullopt,
          .needsConfirm = false,
          .keepsOpen = false,
          .run = show};
}

}  // namespace

Item SearchModel::appItem(const AppIndex::Entry& entry, std::string id, double score) const {
  std::string subtitle;
  if (entry.kind == Item::Kind::setting) {
    subtitle = "Einstellungen";
  } else {
    subtitle = runningPaths_.count(entry.path) ? "Läuft" : entry.description;
  }
  Workspace& workspace = platform_.workspace;
  return {.id = std::move(id),
          .title = entry.name,
          .subtitle = std::move(subtitle),
          .kind = entry.kind,
          .icon = {Item::Icon::File{entry.path}},
          .score = score,
          .path = entry.path,
          .copyText = std::nullopt,
          .needsConfirm = false,
          .keepsOpen = false,
          .run = [&workspace, url = entry.url, path = entry.path] {
            if (url) {
              workspace.openUrl(*url);
            } else {
              workspace.openApplication(path);
            }
          }};
}

Item SearchModel::layoutItem(Windows::Layout layout, std::string id, double score) {
  const bool placeable =
      platform_.windowServer.isTrusted() && platform_.windowServer.canPlaceWindows();
  std::string subtitle = platform_.windowServer.placementReason();
  if (placeable) {
    subtitle =
        previousApp_ && !previousApp_->name.empty() ? previousApp_->name : "Vorderstes Fenster";
  }
  std::function<void()> run;
  if (placeable) {
    std::weak_ptr<SearchModel> weak = weak_from_this();
    const Platform platform = platform_;
    run = [weak, platform, layout] {
      std::optional<RunningApp> app;
      if (auto model = weak.lock()) app = model->previousApp_;
      // The panel must be gone first, or the application in front would be ours.
      platform.scheduler.postAfter(kLayoutDelaySeconds, [platform, layout, app] {
        Windows::place(layout, app, platform.windowServer, platform.workspace);
      });
    };
  } else {
    WindowServer& windowServer = platform_.windowServer;
    run = [&windowServer] { windowServer.requestTrust(); };
  }
  return {.id = std::move(id),
          .title = "Fenster: " + std::string(Windows::title(layout)),
          .subtitle = std::move(subtitle),
          .kind = Item::Kind::window,
          .icon = symbol(std::string(Windows::symbol(layout)), SystemColor::mint),
          .score = score,
          .path = std::nullopt,
          .copyText = std::nullopt,
          .needsConfirm = false,
          .keepsOpen = false,
          .run = std::move(run)};
}

Item SearchModel::windowItem(const Windows::Window& window, double score) const {
  WindowServer& windowServer = platform_.windowServer;
  Workspace& workspace = platform_.workspace;
  return {.id = "win:" + std::to_string(window.app.pid) + ":" + window.title,
          .title = window.title,
          .subtitle = window.app.name,
          .kind = Item::Kind::window,
          .icon = window.app.path ? Item::Icon{Item::Icon::File{*window.app.path}}
                                  : symbol("macwindow", SystemColor::gray),
          .score = score,
          .path = std::nullopt,
          .copyText = std::nullopt,
          .needsConfirm = false,
          .keepsOpen = false,
          .run = [&windowServer, &workspace, element = window.element, pid = window.app.pid] {
            windowServer.raise(element);
            workspace.activate(pid);
          }};
}

Item SearchModel::commandItem(const Commands::Command& command, std::string id,
                              double score) const {
  SystemActions& actions = platform_.systemActions;
  return {.id = std::move(id),
          .title = command.title,
          .subtitle = command.confirm ? "Braucht Bestätigung" : "Systembefehl",
          .kind = Item::Kind::command,
          .icon = symbol(command.symbol, command.color),
          .score = score,
          .path = std::nullopt,
          .copyText = std::nullopt,
          .needsConfirm = command.confirm,
          .keepsOpen = command.keepsOpen,
          .run = [&actions, action = command.action] { actions.perform(action); }};
}

const std::vector<bool>& SearchModel::learnedApps() {
  if (learnedRevision_ != learning_.revision() || learnedAppsRevision_ != apps_->revision()) {
    const auto& entries = apps_->entries();
    learnedApps_.assign(entries.size(), false);
    for (std::size_t index = 0; index < entries.size(); ++index) {
      learnedApps_[index] = learning_.knows(entries[index].id);
    }
    learnedRevision_ = learning_.revision();
    learnedAppsRevision_ = apps_->revision();
  }
  return learnedApps_;
}

std::vector<Item> SearchModel::everything(std::string_view term) {
  if (term.empty()) return recents();
  const std::string lower = unicode::lowercase(term);
  Workspace& workspace = platform_.workspace;

  if (lower.starts_with('>')) {
    const std::string command = std::string(unicode::trimBlanks(term.substr(1)));
    if (command.empty()) return {};
    SystemActions& actions = platform_.systemActions;
    return {{.id = "shell",
             .title = command,
             .subtitle = "Im Terminal ausführen",
             .kind = Item::Kind::command,
             .icon = symbol("terminal.fill", SystemColor::gray),
             .score = kSpecialScore,
             .path = std::nullopt,
             .copyText = command,
             .needsConfirm = false,
             .keepsOpen = false,
             .run = [&actions, command] { actions.runInTerminal(command); }}};
  }

  std::vector<Item> rows;
  if (const auto space = term.find(' '); space != std::string_view::npos) {
    const std::string word = unicode::lowercase(term.substr(0, space));
    const std::string rest = std::string(unicode::trimBlanks(term.substr(space + 1)));
    if (!rest.empty()) {
      const auto engine =
          std::find_if(Commands::engines().begin(), Commands::engines().end(),
                       [&](const auto& candidate) { return candidate.key == word; });
      if (engine != Commands::engines().end()) {
        const auto address = validAddress(
            replaceAll(engine->address, "%@", percentEncode(rest, kQueryValueAllowed)));
        if (address) {
          rows.push_back({.id = "web:" + engine->key,
                          .title = rest,
                          .subtitle = "Bei " + engine->label + " suchen",
                          .kind = Item::Kind::web,
                          .icon = symbol("globe", SystemColor::blue),
                          .score = kSpecialScore,
                          .path = std::nullopt,
                          .copyText = *address,
                          .needsConfirm = false,
                          .keepsOpen = false,
                          .run = [&workspace, url = *address] { workspace.openUrl(url); }});
        }
      } else if (word == "def" || word == "lex") {
        std::optional<std::string> definition = platform_.dictionary.definition(rest);
        if (definition) definition = replaceAll(*definition, "\n", " ");
        rows.push_back({.id = "dict",
                        .title = rest,
                        .subtitle = definition ? firstCharacters(*definition, kDefinitionPreview)
                                               : "Im Lexikon nachschlagen",
                        .kind = Item::Kind::dictionary,
                        .icon = symbol("character.book.closed.fill", SystemColor::brown),
                        .score = kSpecialScore,
                        .path = std::nullopt,
                        .copyText = definition,
                        .needsConfirm = false,
                        .keepsOpen = false,
                        .run = [&workspace, rest] {
                          const auto address =
                              validAddress("dict://" + percentEncode(rest, kPathAllowed));
                          if (!address || !workspace.openUrl(*address)) workspace.beep();
                        }});
      } else if (word == "beenden" || word == "quit" || word == "kill") {
        const Fuzzy::Query query(rest);
        for (const RunningApp& app : workspace.runningApplications()) {
          if (!app.regular || app.name.empty()) continue;
          const auto score = Fuzzy::score(query, Fuzzy::Target(app.name));
          if (!score) continue;
          rows.push_back({.id = "quit:" + app.name,
                          .title = app.name + " beenden",
                          .subtitle = "Läuft gerade",
                          .kind = Item::Kind::command,
                          .icon = app.path ? Item::Icon{Item::Icon::File{*app.path}}
                                           : symbol("xmark", SystemColor::red),
                          .score = *score + kQuitScore,
                          .path = std::nullopt,
                          .copyText = std::nullopt,
                          .needsConfirm = false,
                          .keepsOpen = false,
                          .run = [&workspace, pid = app.pid] { workspace.terminate(pid); }});
        }
      }
    }
  }

  if (auto result = Calculator::evaluate(term)) {
    std::weak_ptr<SearchModel> weak = weak_from_this();
    rows.push_back({.id = "calc",
                    .title = *result,
                    .subtitle = std::string(term) + " =",
                    .kind = Item::Kind::calc,
                    .icon = {Item::Icon::Text{"="}},
                    .score = kCalculatorScore,
                    .path = std::nullopt,
                    .copyText = *result,
                    .needsConfirm = false,
                    .keepsOpen = false,
                    .run = [weak, text = *result] {
                      if (auto model = weak.lock()) model->copyText(text);
                    }});
  }

  if (term.find(' ') == std::string_view::npos && looksLikeAddress(term)) {
    const std::string typed =
        hasWebScheme(term) ? std::string(term) : "https://" + std::string(term);
    if (auto address = validAddress(typed)) {
      rows.push_back({.id = "url",
                      .title = *address,
                      .subtitle = "Adresse öffnen",
                      .kind = Item::Kind::web,
                      .icon = symbol("safari.fill", SystemColor::blue),
                      .score = kAddressScore,
                      .path = std::nullopt,
                      .copyText = *address,
                      .needsConfirm = false,
                      .keepsOpen = false,
                      .run = [&workspace, url = *address] { workspace.openUrl(url); }});
    }
  }

  // Fuzzy matches are only noted here; rows are built for the few that survive the cut,
  // since a one-letter term matches most of the index. The list is kept between searches,
  // so a keystroke allocates nothing per match.
  std::vector<Candidate>& candidates = candidates_;
  candidates.clear();
  for (std::size_t index = 0; index < rows.size(); ++index) {
    candidates.push_back({rows[index].score, Source::special, index});
  }

  const Fuzzy::Query query(term);
  const std::string key = Learning::queryKey(term);
  const auto& entries = apps_->entries();
  const std::vector<bool>& learned = learnedApps();
  apps_->targets().forEachMatch(query, [&](std::uint32_t index, double score) {
    const AppIndex::Entry& entry = entries[index];
    const double penalty = entry.kind == Item::Kind::app ? 0 : kSettingPenalty;
    const double boost = learned[index] ? learning_.boost(entry.id, key) : 0;
    candidates.push_back({score + boost - penalty, Source::app, index});
  });

  const std::size_t termCharacters = unicode::characterBoundaries(term).size() - 1;
  for (std::size_t index = 0; index < commandTargets_.size(); ++index) {
    const auto score = Fuzzy::score(query, commandTargets_[index].second);
    if (!score) continue;
    const bool strong = *score >= kCommandMinimum;
    const bool longEnough =
        termCharacters >= kLongTermCharacters && *score >= kCommandMinimumLongTerm;
    if (!strong && !longEnough) continue;
    const double boost = learning_.boost("cmd:" + commandTargets_[index].first->title, key);
    candidates.push_back({*score - kCommandPenalty + boost, Source::command, index});
  }

  for (std::size_t index = 0; index < layoutTargets_.size(); ++index) {
    const auto score = Fuzzy::score(query, layoutTargets_[index].second);
    if (!score || *score < kLayoutMinimum) continue;
    const double boost =
        learning_.boost("layout:" + std::string(Windows::title(layoutTargets_[index].first)), key);
    candidates.push_back({*score - kLayoutPenalty + boost, Source::layout, index});
  }

  for (std::size_t index = 0; index < windowCache_.size(); ++index) {
    const auto score = Fuzzy::score(query, windowCache_[index].target);
    if (!score || *score < kWindowMinimum) continue;
    candidates.push_back({*score - kWindowPenalty, Source::window, index});
  }

  if (showSettings_) {
    // Held to the bar of a command: it is one among the launcher's own rows.
    const auto score = Fuzzy::score(query, settingsTarget());
    const bool strong = score && *score >= kCommandMinimum;
    const bool longEnough =
        score && termCharacters >= kLongTermCharacters && *score >= kCommandMinimumLongTerm;
    if (strong || longEnough) {
      candidates.push_back(
          {*score - kCommandPenalty + learning_.boost("settings", key), Source::settings, 0});
    }
  }

  // The best rows in the order a stable sort by score would give them: equal scores keep
  // the order in which they were noted, which is that of the sources, then their index.
  const auto ranksBefore = [](const Candidate& left, const Candidate& right) {
    if (left.score != right.score) return left.score > right.score;
    if (left.source != right.source) return left.source < right.source;
    return left.index < right.index;
  };
  const std::size_t kept = std::min(candidates.size(), kMaxRows);
  std::partial_sort(candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(kept),
                    candidates.end(), ranksBefore);
  candidates.resize(kept);

  std::vector<Item> ranked;
  ranked.reserve(candidates.size() + 1);
  for (const Candidate& candidate : candidates) {
    switch (candidate.source) {
      case Source::special:
        ranked.push_back(std::move(rows[candidate.index]));
        break;
      case Source::app:
        ranked.push_back(
            appItem(entries[candidate.index], entries[candidate.index].id, candidate.score));
        break;
      case Source::command: {
        const Commands::Command& command = *commandTargets_[candidate.index].first;
        ranked.push_back(commandItem(command, "cmd:" + command.title, candidate.score));
        break;
      }
      case Source::layout: {
        const Windows::Layout layout = layoutTargets_[candidate.index].first;
        ranked.push_back(
            layoutItem(layout, "layout:" + std::string(Windows::title(layout)), candidate.score));
        break;
      }
      case Source::window:
        ranked.push_back(windowItem(windowCache_[candidate.index], candidate.score));
        break;
      case Source::settings:
        ranked.push_back(settingsItem(showSettings_, candidate.score));
        break;
    }
  }
  rows = std::move(ranked);

  const auto& general = Commands::engines().front();
  if (auto address = validAddress(
          replaceAll(general.address, "%@", percentEncode(term, kQueryValueAllowed)))) {
    rows.push_back({.id = "web:fallback",
                    .title = "„" + std::string(term) + "“ im Web suchen",
                    .subtitle = general.label,
                    .kind = Item::Kind::web,
                    .icon = symbol("magnifyingglass", SystemColor::blue),
                    .score = kPinnedScore,
                    .path = std::nullopt,
                    .copyText = std::string(term),
                    .needsConfirm = false,
                    .keepsOpen = false,
                    .run = [&workspace, url = *address] { workspace.openUrl(url); }});
  }
  return rows;
}

}  // namespace varek
