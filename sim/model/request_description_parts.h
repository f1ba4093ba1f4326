// SPDX-License-Identifier: MIT
// The pieces of each mode-setting request's description, one file per job:
// decoding (request_decoding.cpp), the verbose line (request_accounts.cpp),
// the journal object (request_journal_objects.cpp).
#pragma once

#include "request_descriptions.h"

namespace drmsim {

JournalEntry decode_setcrtc(const Device &device, const void *arg);
JournalEntry decode_setplane(const Device &device, const void *arg);
JournalEntry decode_atomic(const Device &device, const void *arg);

std::string account_setcrtc(const JournalEntry &entry, const Device &device);
std::string account_setplane(const JournalEntry &entry, const Device &device);
std::string account_atomic(const JournalEntry &entry, const Device &device);

nlohmann::json journal_fields_setcrtc(const JournalEntry &entry);
nlohmann::json journal_fields_setplane(const JournalEntry &entry);
nlohmann::json journal_fields_atomic(const JournalEntry &entry);

} // namespace drmsim
