// Everything the core needs from the system, handed over as one bundle of references.
#pragma once

#include "platform/app_scanner.h"
#include "platform/clock.h"
#include "platform/defaults.h"
#include "platform/dictionary.h"
#include "platform/file_index.h"
#include "platform/pasteboard.h"
#include "platform/paths.h"
#include "platform/scheduler.h"
#include "platform/system_actions.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

namespace varek {

struct Platform {
  Scheduler& scheduler;
  const Clock& clock;
  Defaults& defaults;
  Pasteboard& pasteboard;
  Workspace& workspace;
  WindowServer& windowServer;
  FileIndex& fileIndex;
  const Dictionary& dictionary;
  SystemActions& systemActions;
  const AppScanner& appScanner;
  const Paths& paths;
};

}  // namespace varek
