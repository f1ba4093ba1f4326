// The request table's describers: a mode-setting request decoded from its
// ioctl argument into one journal entry, as the call was issued.
#pragma once

#include "drmsim.h"

namespace drmsim {

class Device;

JournalEntry describe_setcrtc(const Device &device, const void *arg);
JournalEntry describe_setplane(const Device &device, const void *arg);
JournalEntry describe_atomic(const Device &device, const void *arg);

} // namespace drmsim
