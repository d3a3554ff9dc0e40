// The registered methods of ZYLffOrvo, as the routine tables list them.
#pragma once

#include "zyl/host.h"

namespace orvo::file {

HostVar* init(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* cleanup(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* commit(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* getValue(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* getValueCount(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* getValueLength(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* getVR(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* getDescription(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* queryValue(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* setValue(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* addSequence(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* addGroup(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* getPixelData(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* setPixelData(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* changeTransferSyntax(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* getProperty(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* setProperty(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* getPrivateValue(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* getPrivateValueCount(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* getPrivateValueLength(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* getPrivateVR(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* queryPrivateValue(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* setPrivateValue(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* addPrivateSequence(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* addPrivateGroup(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* copyTags(int argc, HostVar* argv[], zyl::KeywordList* argk);
HostVar* enumerateTags(int argc, HostVar* argv[], zyl::KeywordList* argk);

}  // namespace orvo::file
