// The registered methods of ZYLffOrvoQuery, as the routine tables list them.
#pragma once

#include "zyl/host.h"

namespace orvo::query {

HostVar* init(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* cleanup(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* clearProperties(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* getProperty(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* setProperty(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* cfindStatus(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* mcStatus(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* queryModelsSupported(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* openFindRq(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* setValue(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* send(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* read(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* getValue(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* freeMessage(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* close(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* runQuery(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* retrieve(int argc, HostVar* argv[], zyl::KeywordList* argk);

}  // namespace orvo::query
