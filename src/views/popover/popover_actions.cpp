#include "views/popover/popover_actions.h"

#include "store/app_store.h"

namespace orvane {

void stopSessionTask(AppStore& store, const TimerSession& session) {
    const QUuid id = session.id;
    store.stopSession(id);
}

} // namespace orvane
