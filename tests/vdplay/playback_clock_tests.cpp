// The playback clock on a made-up time line: no threads, no sleeps.
#include <gtest/gtest.h>

#include <chrono>

#include "playback/playback_clock.h"

using namespace vdplay;
using Action = PlaybackClock::Action;
using std::chrono::milliseconds;

namespace {

class PlaybackClockTest : public ::testing::Test {
 protected:
  PlaybackClockTest() {
    clock.setRate(25, 1);  // 40 ms a picture
    clock.play(t0);
  }

  PlaybackClock::TimePoint at(int ms) const { return t0 + milliseconds(ms); }
  double msAfterStart(PlaybackClock::TimePoint t) const {
    return std::chrono::duration<double, std::milli>(t - t0).count();
  }
  // Shows the waiting picture as soon as it is due; returns when, in ms.
  double showNext(int nowMs) {
    PlaybackClock::Decision d = clock.next(at(nowMs));
    if (d.action == Action::Wait) d = clock.next(d.until);
    EXPECT_EQ(d.action, Action::Show);
    clock.shown(d.until);
    return msAfterStart(d.until);
  }

  const PlaybackClock::TimePoint t0 = PlaybackClock::Clock::now();
  PlaybackClock clock;
};

}  // namespace

TEST_F(PlaybackClockTest, NormalPlayShowsTheFirstAtOnceThenOneAnIntervalWithoutDrift) {
  EXPECT_DOUBLE_EQ(showNext(0), 0);
  const PlaybackClock::Decision early = clock.next(at(10));
  EXPECT_EQ(early.action, Action::Wait);
  EXPECT_DOUBLE_EQ(msAfterStart(early.until), 40);
  // Each shown 3 ms late: the schedule stays on the 40 ms grid.
  for (int i = 1; i <= 100; ++i) {
    const PlaybackClock::Decision d = clock.next(at(40 * i + 3));
    ASSERT_EQ(d.action, Action::Show);
    clock.shown(at(40 * i + 3));
  }
  EXPECT_DOUBLE_EQ(msAfterStart(clock.next(at(4010)).until), 4040);
}

TEST_F(PlaybackClockTest, PauseHoldsAndResumingStartsAgainFromNow) {
  showNext(0);
  clock.pause(true);
  EXPECT_TRUE(clock.paused());
  EXPECT_EQ(clock.next(at(500)).action, Action::Hold);
  clock.pause(false);
  EXPECT_DOUBLE_EQ(showNext(1000), 1000);  // at once, not a backlog from before the pause
  EXPECT_DOUBLE_EQ(showNext(1000), 1040);
}

TEST_F(PlaybackClockTest, SingleFramesShowOnePerStepAndLeaveTheScheduleAlone) {
  showNext(0);
  clock.step();
  clock.step();
  EXPECT_TRUE(clock.stepping());
  EXPECT_EQ(clock.next(at(5)).action, Action::Show);
  clock.shown(at(5));
  EXPECT_EQ(clock.next(at(6)).action, Action::Show);
  clock.shown(at(6));
  EXPECT_EQ(clock.next(at(900)).action, Action::Hold);  // no step left
  // Steps asked for while paused count from the pause on.
  clock.pause(true);
  clock.step();
  EXPECT_EQ(clock.next(at(901)).action, Action::Show);
  EXPECT_EQ(clock.next(at(901)).action, Action::Show) << "a step is used up when shown";
  clock.shown(at(901));
  EXPECT_EQ(clock.next(at(902)).action, Action::Hold);
  clock.pause(false);  // back to continuous play, from now
  EXPECT_FALSE(clock.stepping());
  EXPECT_DOUBLE_EQ(showNext(1000), 1000);
}

TEST_F(PlaybackClockTest, SpeedStepsDoubleOrHalveTheRateWithinTheirRange) {
  showNext(0);
  ASSERT_TRUE(clock.changeSpeed(+1, at(0)));  // 80 pictures a second from the one shown
  EXPECT_DOUBLE_EQ(showNext(0), 20);
  ASSERT_TRUE(clock.changeSpeed(-1, at(20)));
  ASSERT_TRUE(clock.changeSpeed(-1, at(20)));  // half speed: 80 ms
  EXPECT_DOUBLE_EQ(showNext(20), 100);
  for (int i = 0; i < PlaybackClock::kMaxSpeedStep - 1; ++i)
    EXPECT_TRUE(clock.changeSpeed(-1, at(100)));
  EXPECT_FALSE(clock.changeSpeed(-1, at(100)));
  EXPECT_EQ(clock.speed(), -PlaybackClock::kMaxSpeedStep);
  clock.play(at(100));  // back to normal speed
  EXPECT_EQ(clock.speed(), 0);
  EXPECT_DOUBLE_EQ(showNext(100), 100);
  EXPECT_DOUBLE_EQ(showNext(100), 140);
}

TEST_F(PlaybackClockTest, FastSpeedDropsPicturesMoreThanAnIntervalLateNormalSpeedNever) {
  showNext(0);
  EXPECT_EQ(clock.next(at(200)).action, Action::Show);  // late at normal speed: shown
  clock.shown(at(200));
  clock.play(at(200));
  EXPECT_DOUBLE_EQ(showNext(200), 200);
  ASSERT_TRUE(clock.changeSpeed(+2, at(200)));  // 10 ms a picture
  EXPECT_EQ(clock.next(at(215)).action, Action::Show);  // 5 ms late
  clock.shown(at(215));
  EXPECT_EQ(clock.next(at(260)).action, Action::Drop);  // 40 ms late
}

TEST_F(PlaybackClockTest, AfterTheSourceRanDryALatePictureStartsTheScheduleAgain) {
  showNext(0);
  showNext(0);  // at 40
  clock.dataRanOut();
  EXPECT_DOUBLE_EQ(showNext(300), 300);  // data came late: shown when it came
  EXPECT_DOUBLE_EQ(showNext(300), 340);  // and the next one an interval later, no rush
  // Without running dry a late picture keeps the schedule: the next one is
  // due on the old grid.
  EXPECT_DOUBLE_EQ(showNext(390), 390);
  EXPECT_DOUBLE_EQ(showNext(390), 420);
}

// The sound stage reports when a stamped sample is heard; stamped pictures
// then follow it (and only at normal speed, playing).
TEST_F(PlaybackClockTest, StampedPicturesFollowTheSoundHeard) {
  PlaybackClock::Decision d = clock.next(at(0), 0);
  ASSERT_EQ(d.action, Action::Show);
  clock.shown(at(0), 0);
  EXPECT_DOUBLE_EQ(msAfterStart(clock.next(at(1), 40).until), 40);
  // The sample stamped 0 is heard at 30 ms: the picture stamped 40 is due at 70.
  EXPECT_TRUE(clock.followAudio(at(30), 0));
  EXPECT_DOUBLE_EQ(msAfterStart(clock.next(at(1), 40).until), 70);
  clock.shown(at(70), 40);
  // The sound runs ahead by 5 ms: the pictures come 5 ms sooner.
  EXPECT_TRUE(clock.followAudio(at(95), 60));
  EXPECT_DOUBLE_EQ(msAfterStart(clock.next(at(71), 80).until), 115);
  // Another time line (more than 2 s away) leaves the schedule alone.
  EXPECT_FALSE(clock.followAudio(at(100), 50000));
  EXPECT_DOUBLE_EQ(msAfterStart(clock.next(at(71), 80).until), 115);
}

TEST_F(PlaybackClockTest, TheSoundMovesNothingWhilePausedSteppingOrAtAnotherSpeed) {
  clock.next(at(0), 0);
  clock.shown(at(0), 0);
  clock.pause(true);
  EXPECT_FALSE(clock.followAudio(at(30), 0));
  clock.pause(false);
  EXPECT_FALSE(clock.followAudio(at(30), 0));  // restarting: the next picture comes at once
  clock.next(at(100), 40);
  clock.shown(at(100), 40);
  ASSERT_TRUE(clock.changeSpeed(+1, at(100)));
  EXPECT_FALSE(clock.followAudio(at(130), 40));
  ASSERT_TRUE(clock.changeSpeed(-1, at(100)));
  clock.step();
  EXPECT_FALSE(clock.followAudio(at(130), 40));
}

namespace {

// A live source: the unit stamped k * 40 ms comes whole at arriveMs, the
// port looks for it when its turn comes and shows it when it is due.
// Returns when it was shown, in ms.
class LiveStreamClockTest : public PlaybackClockTest {
 protected:
  double liveUnit(int k, int arriveMs, bool rhythmic = true) {
    const auto stamp = static_cast<std::uint32_t>(k * 40);
    PlaybackClock::Decision turn = clock.next(at(0));
    if (turn.action == Action::Wait && msAfterStart(turn.until) < arriveMs) {
      clock.dataRanOut();  // the port looked before the unit came
      turn = clock.next(at(arriveMs));
    }
    if (turn.action == Action::Wait) turn = clock.next(turn.until);
    clock.unitTaken(at(arriveMs), stamp, rhythmic);
    PlaybackClock::Decision show = clock.next(turn.until, stamp);
    if (show.action == Action::Wait) show = clock.next(show.until, stamp);
    EXPECT_EQ(show.action, Action::Show);
    clock.shown(show.until, stamp);
    return msAfterStart(show.until);
  }
};

}  // namespace

// One unit comes 70 ms late; the schedule starts anew from it, and then wins
// the delay back over the next seconds in steps of at most half an interval.
TEST_F(LiveStreamClockTest, ALiveStreamWinsBackTheDelayOfOneLateUnit) {
  double last = 0;
  double delay = 0;
  for (int k = 0; k < 250; ++k) {
    const int arrive = k * 40 + 10 + (k == 10 ? 70 : 0) + (k % 3) * 5;  // a little jitter
    const double shown = liveUnit(k, arrive);
    if (k > 0) {
      EXPECT_GE(shown - last, 20 - 1e-9) << "unit " << k;
    }
    last = shown;
    delay = shown - arrive;
    if (k == 11) {
      EXPECT_GE(delay, 60);  // the late unit moved the schedule
    }
  }
  EXPECT_LE(delay, 12);  // back to about the jitter
}

// A host that pushed the whole clip ahead, or that keeps the pool full, is
// not a live source: the pictures keep the rhythm of their stamps.
TEST_F(LiveStreamClockTest, UnitsPushedAheadKeepTheirStampsRhythm) {
  for (int k = 0; k < 100; ++k) EXPECT_DOUBLE_EQ(liveUnit(k, 0), k * 40.0);
  for (int k = 100; k < 200; ++k) EXPECT_DOUBLE_EQ(liveUnit(k, k * 40 - 900, false), k * 40.0);
}
