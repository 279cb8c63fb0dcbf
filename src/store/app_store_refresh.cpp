#include "store/app_store.h"

namespace orvane {

// The full refresh and the dashboard cache are filled in with the refresh
// orchestration; until then signing in shows no figures.
QCoro::Task<void> AppStore::refreshAll() {
    co_return;
}

void AppStore::loadDashboardAggregatesCache() {}

QCoro::Task<void> AppStore::refreshDashboardAndRecentTasks() {
    co_return;
}

} // namespace orvane
