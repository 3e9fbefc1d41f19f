#pragma once

// A match with another device: the rollback session, run from the page's
// animation frames, fed the packets that the page's data channel brings
// (web/page/online.js opens it and says what the session says). Each device's
// own keys steer its own side; the game runs every frame as the session asks.

bool playingOnline();
void runOnlineFrames(double nowMs); // the frames due by now, and the packets out

// Called by online.js
extern "C"
{
    void zarvOnlineStart(int side, unsigned seed, unsigned buildHigh, unsigned buildLow);
    void zarvOnlineLeave();
    void zarvOnlineClosed();
    void zarvOnlineAway(int away);
}
