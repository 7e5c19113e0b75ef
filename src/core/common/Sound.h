#pragma once

#include <QString>

namespace tulmo {

// The sound output of the console: a repeating player with an on/off indicator, and a
// one-shot call. Every failure is swallowed by the implementation.
class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    // Stop the repeating player and rewind it.
    virtual void stopPlayer() = 0;
    // Load the file into the repeating player, switch the indicator on and play it
    // until the operator silences it.
    virtual void playRepeating(const QString &path) = 0;
    // Play the file once, asynchronously; a missing file plays the default sound.
    virtual void playOnce(const QString &path) = 0;
};

} // namespace tulmo
