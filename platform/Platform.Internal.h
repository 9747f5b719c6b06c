#pragma once
// What the backends of each system share: the counting of a work group's items, the shell
// handler, the reading of a time pattern.

#include "platform/Platform.System.h"
#include "platform/Platform.Threads.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace platform {

struct WorkGroup::State {
    std::mutex Lock;
    std::condition_variable Idle;
    size_t Running = 0; // queued or running, not yet returned
};

// Counts an item of the group as queued.
void EnterWorkGroup(const std::shared_ptr<WorkGroup::State>& group);
// Counts it as returned. The group's state is kept alive by the item until here, so a waiter that
// wakes and destroys its group leaves nothing dangling.
void LeaveWorkGroup(std::shared_ptr<WorkGroup::State> group);

// Lower-case hexadecimal text of the bytes.
std::string HexText(const unsigned char* bytes, size_t size);

// Hands the target to the handler SetShellOpenHandler set, if any; false when there is none.
bool HandToShellOpenHandler(const std::string& target);

// The character between the hour and the minute fields of a short time pattern ("HH:mm" gives
// ":"), or ":" when anything else stands there. `hourLetters` are the pattern's hour letters.
std::u16string TimeSeparatorInPattern(std::u16string_view pattern, std::u16string_view hourLetters);

} // namespace platform
