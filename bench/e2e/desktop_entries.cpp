#include "bench/e2e/desktop_entries.h"

#include <array>
#include <cctype>
#include <fstream>
#include <string_view>
#include <system_error>

namespace varek::e2e {
namespace {

// What an application does, in both languages: the second half of its name, its generic
// name, its comment and keywords, with the categories and icon that go with them.
struct Kind {
  std::string_view english, german;
  std::string_view genericEnglish, genericGerman;
  std::string_view commentEnglish, commentGerman;
  std::string_view keywordsEnglish, keywordsGerman;
  std::string_view categories, icon;
};

constexpr std::array<Kind, 30> kKinds = {{
    {"Photo Editor", "Bildbearbeitung", "Image Editor", "Bildbearbeitungsprogramm",
     "Edit photos and images", "Fotos und Bilder bearbeiten", "photo;image;picture;", "Foto;Bild;",
     "Graphics;2DGraphics;RasterGraphics;", "applications-graphics"},
    {"Image Viewer", "Bildbetrachter", "Image Viewer", "Bildbetrachter", "Browse and view pictures",
     "Bilder durchsehen und ansehen", "picture;slideshow;", "Bild;Diaschau;", "Graphics;Viewer;",
     "image-viewer"},
    {"Music Player", "Musikspieler", "Audio Player", "Audiowiedergabe",
     "Play and organise your music collection", "Musiksammlung abspielen und ordnen",
     "music;song;album;", "Musik;Lied;Album;", "AudioVideo;Audio;Player;", "audio-player"},
    {"Video Player", "Videowiedergabe", "Media Player", "Medienwiedergabe",
     "Watch films and videos", "Filme und Videos ansehen", "movie;film;clip;", "Film;Clip;",
     "AudioVideo;Video;Player;", "video-player"},
    {"Text Editor", "Texteditor", "Text Editor", "Texteditor", "Edit plain text files",
     "Einfache Textdateien bearbeiten", "text;plain;notepad;", "Text;Notizblock;",
     "Utility;TextEditor;", "accessories-text-editor"},
    {"Terminal", "Terminal", "Terminal Emulator", "Terminal-Emulator", "Use the command line",
     "Die Befehlszeile verwenden", "shell;prompt;command;", "Shell;Eingabeaufforderung;Befehl;",
     "System;TerminalEmulator;", "utilities-terminal"},
    {"Calendar", "Kalender", "Calendar", "Kalender", "Keep track of appointments",
     "Termine im Blick behalten", "event;appointment;", "Termin;Ereignis;", "Office;Calendar;",
     "x-office-calendar"},
    {"Mail", "E-Mail", "Mail Client", "E-Mail-Programm", "Read and write email",
     "E-Mails lesen und schreiben", "email;inbox;", "Posteingang;Nachricht;",
     "Network;Email;Office;", "internet-mail"},
    {"Web Browser", "Webbrowser", "Web Browser", "Webbrowser", "Browse the World Wide Web",
     "Im Internet surfen", "internet;www;web;", "Internet;WWW;Netz;", "Network;WebBrowser;",
     "web-browser"},
    {"File Manager", "Dateiverwaltung", "File Manager", "Dateimanager", "Access and organise files",
     "Dateien öffnen und ordnen", "folder;explorer;disk;", "Ordner;Explorer;Festplatte;",
     "System;FileManager;", "system-file-manager"},
    {"Archive Manager", "Archivverwaltung", "Archive Manager", "Archivverwaltung",
     "Create and extract archives", "Archive erstellen und entpacken", "zip;tar;compress;",
     "Zip;Tar;Packen;", "Utility;Archiving;Compression;", "package-x-generic"},
    {"Calculator", "Rechner", "Calculator", "Taschenrechner", "Perform calculations",
     "Berechnungen durchführen", "arithmetic;math;", "Arithmetik;Mathe;", "Utility;Calculator;",
     "accessories-calculator"},
    {"Screenshot", "Bildschirmfoto", "Screenshot Tool", "Bildschirmfoto-Werkzeug",
     "Save images of your screen", "Bilder des Bildschirms speichern", "capture;snapshot;",
     "Aufnahme;Schnappschuss;", "Utility;Graphics;", "applets-screenshooter"},
    {"System Monitor", "Systemüberwachung", "Task Manager", "Aufgabenverwaltung",
     "View processes and resource usage", "Prozesse und Auslastung anzeigen", "process;cpu;memory;",
     "Prozess;Prozessor;Speicher;", "System;Monitor;", "utilities-system-monitor"},
    {"Disk Usage", "Speicherbelegung", "Disk Usage Analyzer", "Festplattenbelegung",
     "Check folder sizes and free space", "Ordnergrößen und freien Platz prüfen", "storage;space;",
     "Speicher;Platz;", "System;Filesystem;", "baobab"},
    {"Password Safe", "Passwortsafe", "Password Manager", "Passwortverwaltung",
     "Keep passwords and keys safe", "Passwörter und Schlüssel sicher aufbewahren",
     "password;keyring;secret;", "Passwort;Schlüsselbund;Geheimnis;", "Utility;Security;",
     "dialog-password"},
    {"Font Viewer", "Schriftarten", "Font Viewer", "Schriftenbetrachter", "View and install fonts",
     "Schriften ansehen und installieren", "font;typeface;", "Schrift;Schriftart;",
     "Graphics;Utility;", "preferences-desktop-font"},
    {"Dictionary", "Wörterbuch", "Dictionary", "Wörterbuch", "Look up words and translations",
     "Wörter und Übersetzungen nachschlagen", "translate;word;", "Übersetzen;Wort;",
     "Office;Dictionary;", "accessories-dictionary"},
    {"Presentation", "Präsentation", "Presentation Program", "Präsentationsprogramm",
     "Create slide shows", "Foliensätze erstellen", "slides;talk;", "Folien;Vortrag;",
     "Office;Presentation;", "x-office-presentation"},
    {"Spreadsheet", "Tabellenkalkulation", "Spreadsheet", "Tabellenkalkulation",
     "Work with tables and charts", "Mit Tabellen und Diagrammen arbeiten", "table;chart;",
     "Tabelle;Diagramm;", "Office;Spreadsheet;", "x-office-spreadsheet"},
    {"Word Processor", "Textverarbeitung", "Word Processor", "Textverarbeitung",
     "Write letters and documents", "Briefe und Dokumente schreiben", "document;letter;",
     "Dokument;Brief;", "Office;WordProcessor;", "x-office-document"},
    {"Chat", "Chat", "Instant Messenger", "Sofortnachrichten", "Talk with friends and teams",
     "Mit Freunden und Teams schreiben", "message;im;team;", "Nachricht;Team;",
     "Network;InstantMessaging;", "internet-chat"},
    {"Video Call", "Videoanruf", "Video Conferencing", "Videokonferenz", "Meet people by video",
     "Menschen per Video treffen", "meeting;webcam;", "Besprechung;Webcam;",
     "Network;VideoConference;", "camera-web"},
    {"Sound Recorder", "Tonaufnahme", "Audio Recorder", "Audiorekorder",
     "Record sound from a microphone", "Ton vom Mikrofon aufnehmen", "record;microphone;",
     "Aufnahme;Mikrofon;", "AudioVideo;Audio;Recorder;", "audio-input-microphone"},
    {"Code Editor", "Code-Editor", "Integrated Development Environment", "Entwicklungsumgebung",
     "Write, run and debug programs", "Programme schreiben, ausführen und prüfen",
     "programming;ide;debug;", "Programmierung;Entwicklung;", "Development;IDE;",
     "applications-development"},
    {"Database", "Datenbank", "Database Client", "Datenbankprogramm", "Query and edit databases",
     "Datenbanken abfragen und bearbeiten", "sql;query;table;", "SQL;Abfrage;Tabelle;",
     "Development;Database;", "office-database"},
    {"Maps", "Karten", "Map Viewer", "Kartenansicht", "Find places and routes",
     "Orte und Routen finden", "map;route;navigation;", "Karte;Route;Navigation;", "Utility;Maps;",
     "maps"},
    {"Weather", "Wetter", "Weather Forecast", "Wettervorhersage", "Show the weather where you are",
     "Das Wetter am Ort zeigen", "forecast;temperature;", "Vorhersage;Temperatur;", "Utility;",
     "weather-few-clouds"},
    {"Backup", "Datensicherung", "Backup Tool", "Sicherungsprogramm",
     "Back up and restore your files", "Dateien sichern und wiederherstellen", "restore;snapshot;",
     "Wiederherstellen;Schnappschuss;", "System;Archiving;", "deja-dup"},
    {"Scanner", "Scanner", "Document Scanner", "Dokumentenscanner", "Scan paper documents",
     "Papierdokumente einscannen", "scan;document;", "Einscannen;Dokument;", "Graphics;Scanning;",
     "scanner"},
}};

// Invented vendor names, put together from these halves: 20 × 18 of them.
constexpr std::array<std::string_view, 20> kVendorStarts = {
    "Ka", "Lu", "Mi",  "No",  "Ori", "Pe", "Qua", "Ri", "Sol", "Ta",
    "Ve", "Xa", "Zen", "Bri", "Dra", "Fe", "Gi",  "Ho", "Jö",  "Kra"};
constexpr std::array<std::string_view, 18> kVendorEnds = {
    "lix", "mo",   "nara", "pix", "ton", "va",  "ra", "dex",  "flow",
    "ly",  "mint", "nova", "po",  "sta", "tek", "ux", "wave", "zo"};
constexpr std::size_t kVendors = kVendorStarts.size() * kVendorEnds.size();

// Programs that exist on every PATH, as desktops drop entries whose program is missing;
// nothing here is ever run by the benchmark.
constexpr std::array<std::string_view, 5> kCommands = {"true", "env", "/bin/true", "true %U",
                                                       "env LC_ALL=C true %F"};

// How often (one entry in so many) an entry is of these sorts.
constexpr std::size_t kEveryVendorFolder = 7;
constexpr std::size_t kEveryReverseDomainName = 5;
constexpr std::size_t kEveryHidden = 25;
constexpr std::size_t kEverySettingsPane = 40;
constexpr std::size_t kEveryAction = 10;

std::string vendor(std::size_t index) {
  const std::size_t vendorIndex = index % kVendors;
  return std::string(kVendorStarts[vendorIndex % kVendorStarts.size()]) +
         std::string(kVendorEnds[vendorIndex / kVendorStarts.size()]);
}

// Each index below kVendors × kinds names another vendor and kind pair; past that, a
// number keeps the names apart.
const Kind& kind(std::size_t index) {
  const std::size_t round = index / kVendors;
  return kKinds[(round + index % kVendors) % kKinds.size()];
}

std::string slug(std::string_view text) {
  std::string result;
  for (const char character : text) {
    const auto byte = static_cast<unsigned char>(character);
    if (std::isalnum(byte) != 0) {
      result += static_cast<char>(std::tolower(byte));
    } else if (byte < 0x80 && !result.empty() && result.back() != '-') {
      result += '-';
    }
  }
  return result;
}

std::string camel(std::string_view text) {
  std::string result;
  for (const char character : text) {
    if (std::isalnum(static_cast<unsigned char>(character)) != 0) result += character;
  }
  return result;
}

std::filesystem::path relativeFile(std::size_t index, const std::string& vendorName,
                                   const Kind& what) {
  const std::string number =
      index / (kVendors * kKinds.size()) > 0 ? "-" + std::to_string(index) : "";
  if (index % kEveryReverseDomainName == 1) {
    return "org." + slug(vendorName) + "." + camel(what.english) + number + ".desktop";
  }
  if (index % kEveryVendorFolder == 3) {
    return std::filesystem::path(slug(vendorName)) / (slug(what.english) + number + ".desktop");
  }
  return slug(vendorName) + "-" + slug(what.english) + number + ".desktop";
}

std::string entryText(std::size_t index) {
  const std::string vendorName = vendor(index);
  const Kind& what = kind(index);
  const std::string number =
      index / (kVendors * kKinds.size()) > 0 ? " " + std::to_string(index) : "";
  const bool pane = index % kEverySettingsPane == kEverySettingsPane - 1;
  const std::string suffix = pane ? " Settings" : "";
  const std::string suffixGerman = pane ? " – Einstellungen" : "";
  const std::string english = vendorName + " " + std::string(what.english) + suffix + number;
  const std::string german = vendorName + " " + std::string(what.german) + suffixGerman + number;

  std::string text = "[Desktop Entry]\nType=Application\n";
  // A third of the programs are translated, a third speak English, a third German only.
  switch (index % 3) {
    case 0:
      text += "Name=" + english + "\nName[de]=" + german + "\n";
      break;
    case 1:
      text += "Name=" + english + "\n";
      break;
    default:
      text += "Name=" + german + "\n";
      break;
  }
  text += "GenericName=" + std::string(what.genericEnglish) +
          "\nGenericName[de]=" + std::string(what.genericGerman) + "\n";
  text += "Comment=" + std::string(what.commentEnglish) +
          "\nComment[de]=" + std::string(what.commentGerman) + "\n";
  text += "Keywords=" + std::string(what.keywordsEnglish) +
          "\nKeywords[de]=" + std::string(what.keywordsGerman) + "\n";
  text += "Exec=" + std::string(kCommands[index % kCommands.size()]) + "\n";
  text += "Icon=" + std::string(what.icon) + "\n";
  if (pane) {
    text +=
        "NoDisplay=true\nCategories=GTK;GNOME;Settings;X-GNOME-Settings-Panel;\n"
        "OnlyShowIn=GNOME;Unity;\n";
  } else {
    text += "Categories=" + std::string(what.categories) + "\n";
    if (index % kEveryHidden == kEveryHidden / 2) text += "NoDisplay=true\n";
  }
  if (index % kEveryAction == 3) {
    text +=
        "Actions=new-window;\n\n[Desktop Action new-window]\nName=New Window\n"
        "Name[de]=Neues Fenster\nExec=true\n";
  }
  return text;
}

}  // namespace

bool writeDesktopEntries(const std::filesystem::path& share, std::size_t count) {
  const std::filesystem::path applications = share / "applications";
  for (std::size_t index = 0; index < count; ++index) {
    const std::filesystem::path file =
        applications / relativeFile(index, vendor(index), kind(index));
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    std::ofstream stream(file);
    stream << entryText(index);
    if (!stream.flush()) return false;
  }
  return true;
}

std::vector<std::string> entryNames(const std::filesystem::path& share) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& file :
       std::filesystem::recursive_directory_iterator(share / "applications", error)) {
    if (file.path().extension() != ".desktop") continue;
    std::ifstream stream(file.path());
    for (std::string line; std::getline(stream, line);) {
      if (line.starts_with("Name=")) {
        names.push_back(line.substr(5));
        break;
      }
    }
  }
  return names;
}

}  // namespace varek::e2e
