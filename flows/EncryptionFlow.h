#pragma once

#include "FlowSteps.h"

// Turns on the encryption of a phone's backups, with a backup password the user chooses: from
// then on its backups hold what only encrypted ones do (Safari history, call history, Health data,
// saved passwords) and every restore needs that password.
class EncryptionFlow : public FlowSteps
{
public:
    using FlowSteps::FlowSteps;

    // Asks for the new password (twice where the user can be asked twice), then has the phone
    // encrypt its backups; the phone asks for its passcode to confirm.
    FlowResult turnOn(const IOSDevice& device);
};
