// The toolkit's constant tables: statuses, value representations, transfer
// syntaxes and configuration values. Every mapping lives here and only here.
#pragma once

#include "toolkit/mc.h"

#include <dcmtk/dcmdata/dcvr.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <optional>
#include <span>
#include <string_view>

namespace zyl::toolkit::tables {

struct StatusRow {
  MC_STATUS status;
  const char* name;
  const char* text;
};
const StatusRow* findStatus(int code);

struct VrRow {
  MC_VR code;
  DcmEVR dcmtk;
  const char* name;
};
std::span<const VrRow> vrs();
// The code reported for a DCMTK representation (internal ones resolved).
MC_VR vrFromDcmtk(DcmEVR evr);
std::optional<DcmEVR> dcmtkFromVr(MC_VR code);

struct SyntaxRow {
  MC_TRANSFER_SYNTAX number;
  E_TransferSyntax dcmtk;
  const char* name;  // display name, nullptr when it has none
  MC_PIXEL_CODING coding;
  MC_CODEC_SUPPORT codec = MC_CODEC_NONE;
};
const SyntaxRow* findSyntax(MC_TRANSFER_SYNTAX number);
std::optional<E_TransferSyntax> dcmtkFromSyntax(MC_TRANSFER_SYNTAX number);
const char* syntaxName(MC_TRANSFER_SYNTAX number);
std::optional<MC_TRANSFER_SYNTAX> syntaxFromDcmtk(E_TransferSyntax xfer);
std::optional<MC_TRANSFER_SYNTAX> syntaxFromUid(std::string_view uid);

enum class ConfigType { String, Integer };
struct ConfigRow {
  MC_CONFIG_PARAMETER number;
  const char* section;  // section of the profile holding the value
  const char* key;
  ConfigType type;
  const char* defaultValue;
};
std::span<const ConfigRow> configValues();
const ConfigRow* findConfig(int number);

}  // namespace zyl::toolkit::tables
