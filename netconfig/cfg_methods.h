// The registered methods of ZYLffOrvoCfg, as the routine tables list them.
#pragma once

#include "zyl/host.h"

namespace orvo::netconfig {

HostVar* init(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* cleanup(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* commit(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* isDirty(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* getValue(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* setValue(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* updateConfigurationFile(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* getApplicationEntity(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* getApplicationEntities(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* setApplicationEntity(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* removeApplicationEntity(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* getServiceLists(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* getServiceTypes(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* echo(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* storageScpService(int argc, HostVar* argv[], zyl::KeywordList* argk);

}  // namespace orvo::netconfig
