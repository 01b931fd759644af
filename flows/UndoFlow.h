#pragma once

#include "FlowSteps.h"

// Puts back what the last Free Up of a phone removed, with the same partial restore.
class UndoFlow : public FlowSteps
{
public:
    using FlowSteps::FlowSteps;

    FlowResult undo(const IOSDevice& device);
    // The question asked before an undo: what comes back, when it was taken, the disk it keeps.
    static QString question(const IOSDevice& device);
};
