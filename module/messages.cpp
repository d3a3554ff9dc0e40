#include "messages.h"

namespace orvo {

const HostMessageDef kMessageDefs[kMessageCount] = {
    {"ZYL_M_ORVO_ERRS1", "%N %s"},
    {"ZYL_M_ORVO_ERRS2", "%N %s, %s"},
    {"ZYL_M_ORVO_ERRS3", "%N %s, %s, %s"},
    {"ZYL_M_ORVO_ERRS4", "%N %s, %s, %s, %s"},
    {"ZYL_M_ORVO_ERRS5", "%N %s, %s, %s, %s, %s"},
    {"ZYL_M_ORVO_ERRS6", "%N %s, %s, %s, %s, %s, %s"},
    {"ZYL_M_ORVO_INVALID_DICOMTAG", "%N Error: Invalid DicomTag param...must be a string with exactly 9 chars."},
    {"ZYL_M_ORVO_INVALID_PRIVCODE", "%N Error: Invalid Private Code param...must be a string."},
    {"ZYL_M_ORVO_INVALID_GRP", "%N Error: Invalid Group param...must be a string with exactly 4 chars."},
    {"ZYL_M_ORVO_INVALID_ELEM", "%N Error: Invalid Element param...must be a string with exactly 2 chars."},
    {"ZYL_M_ORVO_INVALID_DICOM_VR", "%N Error: Invalid VR...must be a string with exactly 2 chars."},
    {"ZYL_M_ORVO_INVALID_CLEAR_KW",
     "%N Error: Invalid keyword combination, clear and remove keywords are mutally exclusive."},
    {"ZYL_M_ORVO_INVALID_REMOVE_KW",
     "%N Error: Invalid keyword combination, blockremove and remove keywords are mutually exclusive."},
};

namespace {
HostMsgBlock gBlock = nullptr;
}

HostMsgBlock defineMessageBlock() {
  gBlock = HostDefineMessageBlock("ZYL_MBLK_ORVO", kMessageCount, kMessageDefs);
  return gBlock;
}

HostMsgBlock messageBlock() { return gBlock; }

}  // namespace orvo
