#include "setup_editor/setup_fields.hpp"

#include <gtest/gtest.h>

namespace kestrova::setup_editor {
namespace {

struct EntryCase {
  const char* typed;
  int value;
  std::optional<std::string> shown;
};

TEST(SetupFields, LapseClampsAtTheTopAndFallsBackToTwo) {
  const EntryCase cases[] = {
      {"40000", 32000, "32000"},
      {"32000", 32000, "32000"},
      {"", 2, "2"},
      {"0", 2, "2"},
      {"-5", 2, "2"},
      {"0.4", 2, "2"},
      {"45.5", 46, std::nullopt},
      {"30", 30, std::nullopt},
      {"12abc", 12, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    EXPECT_EQ(lapse_entry(c.typed), (FieldEntry{c.value, c.shown}));
  }
}

TEST(SetupFields, WholeNumbersAreRoundedAndHeldWithin16Bits) {
  const EntryCase cases[] = {
      {"99", 99, std::nullopt},
      {"12.5", 12, std::nullopt},
      {"13.5", 14, std::nullopt},
      {"abc", 0, std::nullopt},
      {"40000", 32767, "32767"},
      {"-99999", -32768, "-32768"},
      {"99999999999999999999999999999", 32767, "32767"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    EXPECT_EQ(whole_number_entry(c.typed), (FieldEntry{c.value, c.shown}));
  }
}

TEST(SetupFields, BufferOutsideItsRangeBecomes200) {
  const EntryCase cases[] = {
      {"150", 200, "200"},
      {"10001", 200, "200"},
      {"199.6", 200, "200"},
      {"", 200, "200"},
      {"40000", 200, "200"},
      {"500", 500, std::nullopt},
      {"10000", 10000, std::nullopt},
      {"200", 200, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    EXPECT_EQ(buffer_entry(c.typed), (FieldEntry{c.value, c.shown}));
  }
}

TEST(SetupFields, SignalToNoiseCheckPerOrganism) {
  struct Case {
    int organism;
    const char* typed;
    bool accepted;
    int snr_x10;
    const char* shown;
    const char* message;
  };
  const Case cases[] = {
      {0, "0.3", false, 18, "1.8", "Enter a valid SNR: 1.4 to 5.0"},
      {1, "1,5", true, 15, "1.5", ""},
      {1, "6", false, 28, "2.8", "Enter a valid SNR: 1.4 to 5.0"},
      {2, "5", true, 50, "5.0", ""},
      {2, "1.3", false, 18, "1.8", "Enter a valid SNR: 1.4 to 5.0"},
      {0, "1.35", true, 14, "1.4", ""}, // shown with one decimal first: 1.4
      {3, "0.5", true, 5, "0.5", ""},
      {3, "0.9", true, 9, "0.9", ""},
      {3, "1", false, 8, "0.8", "Enter a valid SNR: 0.5 to 0.9"},
      {3, "0.4", false, 8, "0.8", "Enter a valid SNR: 0.5 to 0.9"},
      {0, "", false, 18, "1.8", "Enter a valid SNR: 1.4 to 5.0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.typed) + " organism " + std::to_string(c.organism));
    const SnrCheck r = check_snr(c.organism, c.typed);
    EXPECT_EQ(r.accepted, c.accepted);
    EXPECT_EQ(r.snr_x10, c.snr_x10);
    EXPECT_EQ(r.shown, c.shown);
    EXPECT_EQ(r.message, c.message);
  }
}

TEST(SetupFields, ChoosingAnOrganismSetsItsPreset) {
  struct Case {
    int organism, snr_x10, dsp_method;
  };
  for (const Case c : {Case{0, 18, 1}, Case{1, 28, 1}, Case{2, 18, 2}, Case{3, 8, 3}}) {
    store::SetupValues s;
    s.DSP_Method = 0;
    choose_organism(s, c.organism);
    EXPECT_EQ(organism_of(s), c.organism);
    EXPECT_EQ(snr_x10_of(s), c.snr_x10);
    EXPECT_EQ(s.DSP_Method, c.dsp_method);
  }
}

TEST(SetupFields, ZeroSignalToNoiseTakesTheOrganismDefault) {
  store::SetupValues s;
  organism_of(s) = 1;
  EXPECT_EQ(load_snr(s), "2.8");
  EXPECT_EQ(snr_x10_of(s), 28);

  store::SetupValues fly;
  organism_of(fly) = 3;
  EXPECT_EQ(load_snr(fly), "0.8");
  EXPECT_EQ(snr_x10_of(fly), 0); // the window load leaves Drosophila's 0 ...
  apply_default_snr(fly);
  EXPECT_EQ(snr_x10_of(fly), 8); // ... the run action fills it in

  store::SetupValues set;
  snr_x10_of(set) = 25;
  EXPECT_EQ(load_snr(set), "2.5");
  EXPECT_EQ(snr_x10_of(set), 25);
}

TEST(SetupFields, DetectionLineNamesMethodOrganismAndRatio) {
  store::SetupValues s;
  snr_x10_of(s) = 18;
  EXPECT_EQ(detection_line(s), "Detection Mode1, C.elegans [snr 1.8]");
  choose_organism(s, 3);
  EXPECT_EQ(detection_line(s), "Detection Mode3, Drosophila [snr 0.8]");
}

TEST(SetupFields, ToolSwitchesAndSaveOptions) {
  store::SetupValues s;
  set_light_tool(s, true);
  EXPECT_EQ(s.tool_flags[kToolLight], 1);
  EXPECT_EQ(s.tool_settings[kToolLight][0], 1);
  set_light_tool(s, false);
  EXPECT_EQ(s.tool_flags[kToolLight], 0);
  EXPECT_EQ(s.tool_settings[kToolLight][0], 0);
  EXPECT_EQ(save_real_value("YES"), 1);
  EXPECT_EQ(save_real_value("NO"), 0);
}

} // namespace
} // namespace kestrova::setup_editor
