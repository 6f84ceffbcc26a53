// The search behind `varek query` and `varek run`: run as the panel runs it when it opens,
// then waiting for the file rows that belong to it, where the query can show any.
#pragma once

#include <functional>

#include "app/command_line.h"
#include "search/search_model.h"

namespace varek {

void searchAsThePanelDoes(SearchModel& model, const CommandLine& line);

// Runs the event loop for up to milliseconds, or until done says so.
void processEventsFor(int milliseconds, const std::function<bool()>& done = nullptr);

}  // namespace varek
