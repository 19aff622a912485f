#pragma once

// Whether someone is at the keyboard, as the desktop's idle counter tells it. The engine asks
// only when a request falls due and when an application it asked comes to the front, so an
// implementation may ask its server each time.
class UserPresence {
public:
    enum class State {
        Unknown, // the source cannot tell (its connection was lost)
        Present, // keyboard or pointer input within the last kAwayAfterSeconds
        Away,    // no input for that long, or the session is locked
    };
    // Long enough that a question popping up no longer meets a hand on the keyboard.
    static constexpr int kAwayAfterSeconds = 120;

    virtual ~UserPresence() = default;
    virtual State state() = 0;
};
