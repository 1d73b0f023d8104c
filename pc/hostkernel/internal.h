// Shared between the stand-in's own sources.
#pragma once

namespace hk {
void reset_devices();
void reset_board();
} // namespace hk
