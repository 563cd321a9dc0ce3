// What an acquisition leaves behind and switches at its edges: the acquisition log, the notices
// that replace boxes on the recording path, the outputs after completion, and elapsed time
// that a wall-clock step does not move.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "acquisition/acquisition_log.hpp"
#include "acquisition/cycle_fixture.hpp"
#include "acquisition/recording_path.hpp"

namespace kestrova::acquisition {
namespace {

using namespace cycle_testing;

// Whether `text` holds each of `parts`, in this order.
::testing::AssertionResult holds_in_order(const std::string& text,
                                          const std::vector<std::string>& parts) {
  std::size_t at = 0;
  for (const std::string& p : parts) {
    const std::size_t found = text.find(p, at);
    if (found == std::string::npos)
      return ::testing::AssertionFailure() << "\"" << p << "\" missing after " << at << " in\n"
                                           << text;
    at = found + p.size();
  }
  return ::testing::AssertionSuccess();
}

// A pulse programme still running when the acquisition completes leaves the lamp off, whether
// the completion comes while running or during a pause that keeps the time counter on.
TEST_F(CycleTest, PulseLampStaysOffAfterCompletion) {
  for (const bool paused : {false, true}) {
    SCOPED_TRACE(paused ? "completion during a pause" : "completion while running");
    make_cycle();
    dialogs_.clear();
    project_.setup.Aq_lapse = 2;
    // Five cycles of 1 minute on and 1 off: the lamp is due on again at minute 2.
    project_.setup.tool_settings[1] = {1, 9, 21, 5, 10, 10};
    project_.setup.tool_settings[2] = {1, 250}; // the heater is on too
    ASSERT_EQ(start(), StartOutcome::Started);
    ticks(40, 1000);
    if (paused) {
      dialogs_.script_answer(Answer::No); // the time counter goes on
      cycle_->pause_or_resume();
      ASSERT_EQ(cycle_->state(), AcquisitionState::Paused);
    }
    io_.written.clear();
    int guard = 0;
    while (!cycle_->finished() && ++guard < 1000)
      ticks(1, 1000);
    ASSERT_TRUE(cycle_->finished());
    EXPECT_FALSE(cycle_->outputs().light);
    EXPECT_FALSE(cycle_->outputs().power);
    const std::vector<int> sent = output_bytes(io_);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back() & 5, 0) << "last output byte " << sent.back();
    // Ticks that a timer still delivers change nothing.
    io_.written.clear();
    ticks(5, 1000);
    EXPECT_TRUE(output_bytes(io_).empty());
  }
}

// Elapsed time follows the monotonic clock: a one-hour step of the wall clock either way (a
// daylight-saving change) moves neither the recorded minutes nor the completion.
TEST_F(CycleTest, WallClockStepLeavesElapsedMinutesSteady) {
  for (const long long step_ms : {3600000LL, -3600000LL}) {
    SCOPED_TRACE(step_ms);
    make_cycle();
    project_.setup.Aq_lapse = 3;
    clock_.advance_ms(60000); // a new folder for each case
    ASSERT_EQ(start(), StartOutcome::Started);
    ticks(60, 1000);
    clock_.step_wall_ms(step_ms);
    ticks(60, 1000);
    EXPECT_FALSE(cycle_->finished());
    EXPECT_EQ(cycle_->elapsed_minutes(), 2);
    const fs::path counts = folder() / kCountsFileName;
    const std::int64_t records = counts_record_count(counts);
    ASSERT_GT(records, 2);
    int previous = 0;
    for (std::int64_t r = 0; r < records; ++r) {
      const int minutes = read_counts_record(counts, r)->minutes;
      EXPECT_GE(minutes, previous) << r;
      EXPECT_LE(minutes, 2) << r;
      previous = minutes;
    }
    int guard = 0;
    while (!cycle_->finished() && ++guard < 1000)
      ticks(1, 1000);
    EXPECT_EQ(cycle_->elapsed_minutes(), 3);
  }
}

// The log of one acquisition holds its story in order: the start with its settings and the
// program's version, the start-up calibration, a pause and the resume, a lost and restored
// link with what went missing, and the stop with its reason.
TEST_F(CycleTest, LogTellsWhatHappened) {
  project_.setup.Aq_lapse = 30;
  project_.setup.tool_settings[0][1] = 1; // start-up calibration (the default hooks succeed)
  ASSERT_EQ(start(), StartOutcome::Started);
  ticks(3 * kB);
  dialogs_.script_answer(Answer::Yes);
  cycle_->pause_or_resume();
  clock_.advance_ms(5 * 60000);
  cycle_->pause_or_resume();
  ticks(2 * kB);
  // A minute without replies: at the pace before, far more buffers than the two that end.
  silent_ = true;
  ticks(2 * kB, 3000);
  silent_ = false;
  ticks(2 * kB);
  cycle_->stop();
  const std::string log = read_acquisition_log(folder()).value_or("");
  EXPECT_TRUE(holds_in_order(
      log, {"Started \"Run 1\", program version unknown; project 1 \"Default\", plate w96f, lapse "
            "30 min, buffer 10 samples",
            "real-time saving on, auto calibration on", "Start-up calibration done\n",
            "Paused at minute 0, time counter off\n", "Resumed after 5.0 min of pause\n",
            "Link to the instrument lost at minute 0 (10:35:05): no valid reply for 20 scans\n",
            "Link to the instrument restored after 1.0 min (minute 0 to 1): 141 buffer(s) "
            "missing, 2 recorded with repeated samples\n",
            "Stopped by the operator at minute 1 (9 buffer(s) evaluated, 0 lost)\n"}));
  // One line each, stamped with the wall-clock time.
  for (std::size_t at = 0; at < log.size(); at = log.find('\n', at) + 1)
    EXPECT_EQ(log.substr(at, 11), "2026-01-15T") << log.substr(at, 40);
}

// Boxes from code that the recording path runs become notices with their default answers;
// a box opened by the operator while a tick lets events run is asked as usual.
TEST_F(CycleTest, RecordingPathAnswersBoxesByTheirDefaults) {
  struct Asked {
    common::Buttons buttons;
    common::Answer answer;
  };
  const std::vector<Asked> asked = {{common::Buttons::Ok, Answer::Ok},
                                    {common::Buttons::OkCancel, Answer::Cancel},
                                    {common::Buttons::YesNo, Answer::No},
                                    {common::Buttons::YesNoCancel, Answer::Cancel}};
  std::vector<Answer> answers;
  std::optional<std::string> typed = "typed";
  CountingSink sink;
  sink.inside = [&] {
    if (!answers.empty()) return;
    for (const Asked& a : asked)
      answers.push_back(cycle_->recording_path().dialogs().message("Question?", a.buttons));
    typed = cycle_->recording_path().dialogs().input("Name?");
  };
  cycle_->add_sink(&sink);
  ASSERT_EQ(start(), StartOutcome::Started);
  dialogs_.clear();
  ticks(kB);
  ASSERT_EQ(answers.size(), asked.size());
  for (std::size_t i = 0; i < asked.size(); ++i)
    EXPECT_EQ(answers[i], asked[i].answer) << i;
  EXPECT_EQ(typed, std::nullopt);
  EXPECT_TRUE(dialogs_.transcript().empty());
  EXPECT_EQ(view_.problems.size(), asked.size() + 1);
  EXPECT_EQ(view_.problems[2], "Question? [nobody to answer: No]");
  EXPECT_NE(read_acquisition_log(folder())->find("Question? [nobody to answer: Cancel]"),
            std::string::npos);

  // The operator's turn inside the tick: a click's box is shown and answered.
  std::optional<Answer> operator_answer;
  pump_.hook = [&](int) {
    if (!operator_answer)
      operator_answer = cycle_->recording_path().dialogs().message("Sure?", common::Buttons::YesNo);
  };
  dialogs_.script_answer(Answer::Yes);
  ticks(1);
  EXPECT_EQ(operator_answer, Answer::Yes);
  EXPECT_EQ(dialogs_.messages(), std::vector<std::string>{"Sure?"});
  cycle_->remove_sink(&sink);
}

// An unattended start that cannot record says why without a box.
TEST_F(CycleTest, UnattendedStartRefusalIsANotice) {
  project_.config.Actual_Project_Number = 0;
  StartRequest r;
  r.autorun = true;
  EXPECT_EQ(cycle_->start(r), StartOutcome::ProjectZero);
  EXPECT_TRUE(dialogs_.transcript().empty());
  ASSERT_EQ(view_.problems.size(), 1u);
  EXPECT_EQ(view_.problems[0], "Operation not allowed in Project #0:Default. Go to <Setup> and "
                               "Save it with another name");
}

} // namespace
} // namespace kestrova::acquisition
