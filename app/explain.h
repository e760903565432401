// The lines -v and -n print: what was read, which rule decided, the outcome
// and the script, with notes where the integer rule reads less than the
// text holds.
#pragma once

#include <stdint.h>

#include "smbios/smbios_types.h"

// The installed version against the configured one.
enum class VersionOrder { Older, Same, Newer };

void ExplainIntegerDecision(SmbiosStructurePointer Structure, const char *Installed,
                            int32_t InstalledNumber, const char *Configured,
                            int32_t ConfiguredNumber, bool DecideOnly);

void ExplainSegmentDecision(const char *Installed, const char *Configured, VersionOrder Order,
                            bool DecideOnly);
