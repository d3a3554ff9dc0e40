// The registered methods of ZYLffOrvoStorScu, as the routine tables list them.
#pragma once

#include "zyl/host.h"

namespace orvo::storscu {

HostVar* init(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* cleanup(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* clearProperties(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* getProperty(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* setProperty(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* send(int argc, HostVar* argv[], zyl::KeywordList* argk);

}  // namespace orvo::storscu
