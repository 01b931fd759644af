#pragma once

#include "SimDevice.h"

#include <string>

class EmulatorState;

// Lockdown on a phone's port 62078, over a connection the emulated daemon has already opened.
// Pairing follows the phone's switches as the simulated framework does: "PasscodeLocked",
// "UserDenied" and "TrustTapped" (false: the Trust dialog is still open). A phone trusts the
// host identifiers it paired with; "Paired" false makes it forget them. Sessions never use SSL;
// the services named in the switch "SslServices" do.
void serveLockdown(int fd, const SimDevice& device, const std::string& udid, EmulatorState& state);
