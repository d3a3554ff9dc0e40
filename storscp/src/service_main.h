// The service main of the storage service, run by the service dispatcher or
// in the foreground.
#pragma once

namespace zyl::storscp {

void ServiceMain(int argc, char** argv);

}  // namespace zyl::storscp
