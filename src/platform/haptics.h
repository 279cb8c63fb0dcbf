#pragma once

namespace orvane::platform {

enum class HapticPattern { Generic, Alignment, LevelChange };

// The machine's haptic feedback. Desktops here have none: the default
// performer does nothing.
class Haptics {
public:
    virtual ~Haptics() = default;
    virtual void perform(HapticPattern pattern) = 0;

    static Haptics& shared();
    static void overrideShared(Haptics* haptics);
};

class NoHaptics : public Haptics {
public:
    void perform(HapticPattern) override {}
};

} // namespace orvane::platform
