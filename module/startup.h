// Start-up of the module and the directories it works in: the per-user
// directory (with its readme), the system directory of the installation and
// the program directory.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "config/orvo_config.h"

namespace orvo {

// Runs once from ZYL_Load; true when the module is ready.
bool startUp();
// The messages the last start-up issued, joined by blanks ("" when none).
std::string startUpMessages();

// The per-user directory, asked for afresh on each call ("" on failure).
std::string userDirectory();
// <installation>/resource/orvo, without a trailing separator.
std::string systemDirectory();
// <installation>/bin/bin.x86_64/, with its trailing separator.
std::string programDirectory();

// <directory>/orvocfg.xml of the per-user (system false) or system copy.
std::string configFilePath(bool system);
// Replaces the per-user copy by the system copy once the system copy has
// loaded and proved usable; 1 on success, 0 after a message with the user's
// copy untouched.
int refreshUserConfig();
// Lookups in the per-user configuration: the reader's status, 0 when found;
// failures are reported as information.
int readUserApplEntity(const std::string& name, zyl::config::CfgApplEntity& entity);
int readUserParam(const std::string& name, std::span<char> value);

// The toolkit application id of a local application title, registered on
// first use and kept for the life of the process (at most 64 titles).
int applicationIdFor(const std::string& title);
// The id registered for "ZYL_ORVO" at start-up; -1 before.
int32_t moduleApplicationId();

// The readme written into the per-user directory.
extern const char* const kUserDirReadme;

}  // namespace orvo
