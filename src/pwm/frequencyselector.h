#pragma once

// The seven frequency buttons (codes 1 to 7, 31372 Hz down to 30.6 Hz) and the lock that
// guards them: locked at start, each toggle flips it.
class FrequencySelector
{
public:
    static constexpr int FirstCode = 1;
    static constexpr int LastCode = 7;

    bool isUnlocked() const { return m_unlocked; }
    void toggleLock() { m_unlocked = !m_unlocked; }

    // The button the board's reported selection lights: the code the report equals exactly,
    // or 0 for none.
    static int highlightedCode(float reported);

private:
    bool m_unlocked = false;
};
