#pragma once

#include "views/flow/flow_step_page.h"

namespace orvane {

// What a screen reader says for a row: the client's name; the job's number
// and title; the task and its time.
QString flowRowAccessibleName(FlowRowKind kind, const FlowRow& row);

// Makes a step's list a list of items for assistive technology: the
// highlight is its selected (and, once moved by a key, focused) item, and an
// item's press action picks it as a click does. Installed once.
void installFlowListAccessibility();

} // namespace orvane
