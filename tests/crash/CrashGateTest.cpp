#include "crash/CrashGate.h"

#include <gtest/gtest.h>

TEST(CrashGate, TheFirstCrasherWinsAndEveryLaterCrashIsTold)
{
    CCrashGate gate;
    EXPECT_EQ(gate.enter(100), CCrashEntry::first);
    // The crasher again (its own handling faulted), another thread, the reporter.
    EXPECT_EQ(gate.enter(100), CCrashEntry::again);
    EXPECT_EQ(gate.enter(200), CCrashEntry::other);
    gate.setReporter(300);
    EXPECT_EQ(gate.enter(300), CCrashEntry::reporter);
    EXPECT_EQ(gate.enter(200), CCrashEntry::other);
    EXPECT_EQ(gate.enter(100), CCrashEntry::again);
}
