// Checked access to the process-wide table from microphone ordinal to micIndex.
#ifndef TRELVIX_PROVIDER_MICINDEXTABLE_H
#define TRELVIX_PROVIDER_MICINDEXTABLE_H

#include <cstddef>
#include <cstdint>

namespace trelvix {

// Entry `mic` of mic_index_table. Throws std::runtime_error naming `mic`
// when it lies outside the table (1000 entries).
int32_t MicIndexOf(std::size_t mic);

// Stores entry `mic`; throws like MicIndexOf for an ordinal outside the table.
void SetMicIndexOf(std::size_t mic, int32_t micIndex);

}  // namespace trelvix

#endif
