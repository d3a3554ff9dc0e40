// The association of the query client to its remote node, and the progress
// messages it delivers.
#pragma once

#include <string>

#include "config/orvo_config.h"
#include "query_instance.h"
#include "toolkit/mc.h"

namespace orvo::query {

// Opens an association to the QUERY_SCP entity from the local entity that
// QRScuServiceAE names, proposing that entity's service list. Configuration
// failures stop the call; the toolkit's status is returned, with the remote
// entity read into `remote` and the id in `association` on success.
MC_STATUS openQueryAssociation(const QueryInstance& self, zyl::config::CfgApplEntity& remote, int& association);

// Delivers a message to the object's progress callback: false asks to stop.
bool deliver(const QueryInstance& self, const std::string& message);

}  // namespace orvo::query
