// Our listening side for the tests: one port per test process.
#pragma once

#include "toolkit/mc.h"

namespace zyl::toolkit::test {

// The listen port (configuration value 25), chosen, set and listened on once.
int listenPort();
// The application registered under the title "NET_SCP".
int scpApplication();
// Waits (bounded) for an association on the list; the status of the last wait.
MC_STATUS waitForCaller(const char* serviceList, int& applicationId, int& associationId, int attempts = 15);
// Serves an accepted association: answers every request with success until
// the peer releases or aborts; returns the C-STORE requests answered, or -1.
int serveStores(int associationId);

}  // namespace zyl::toolkit::test
