// The fixed table of temporaries to remove when the process is interrupted,
// the same on every system: eight slots, each a path (in the system's own
// character type) and whatever else the back end keeps for it (a handle on
// Windows, nothing on POSIX systems). Nothing here allocates or locks, and a
// slot's armed flag is a lock-free atomic, so a signal handler may walk the
// table. Keeping a slot from changing while the handler runs is the back
// end's part: POSIX holds the signals back, Win32 takes its lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace dls2mml {

// For a back end that keeps nothing beside the path.
struct NoSlotData {};

inline constexpr std::size_t cleanupSlotCount = 8;

template <class Char, std::size_t PathUnits, class Extra = NoSlotData>
class CleanupSlots {
    static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler reads the armed flags");

public:
    // The slot that now holds path (copied with its terminator) and extra;
    // -1 when every slot is taken or the path does not fit, and the temporary
    // then merely outlives an interrupted run.
    int arm(std::basic_string_view<Char> path, const Extra& extra = {}) noexcept
    {
        if (path.size() >= PathUnits)
            return -1;
        for (std::size_t i = 0; i < cleanupSlotCount; ++i) {
            Slot& slot = slots_[i];
            if (!slot.armed.load()) {
                std::memcpy(slot.path, path.data(), path.size() * sizeof(Char));
                slot.path[path.size()] = Char{};
                slot.extra = extra;
                slot.armed.store(true);
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    // A negative index (a temporary in no slot) is ignored.
    void disarm(int index) noexcept
    {
        if (index >= 0)
            slots_[index].armed.store(false);
    }

    Extra& extra(int index) noexcept { return slots_[index].extra; }

    // visit(path, extra) for every armed slot, path with its terminator.
    template <class Visit>
    void forEachArmed(Visit&& visit) noexcept
    {
        for (Slot& slot : slots_)
            if (slot.armed.load())
                visit(static_cast<const Char*>(slot.path), slot.extra);
    }

private:
    struct Slot {
        std::atomic<bool> armed{false};
        [[no_unique_address]] Extra extra{};
        Char path[PathUnits];
    };

    Slot slots_[cleanupSlotCount];
};

} // namespace dls2mml
