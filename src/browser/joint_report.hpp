#pragma once

// The joint report: the kinetic plot's table over a tag's acquisitions written as a CSV file
// "joint_report" + YYYYMMDDhhmmss + ".csv" in the project folder, and the same report built
// without a window for the command line.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "browser/plot_axis.hpp"
#include "browser/plot_view.hpp"
#include "common/cancellation.hpp"
#include "common/clock.hpp"
#include "common/dialogs.hpp"
#include "common/shell.hpp"

namespace kestrova::browser {

inline constexpr std::string_view kJointReportPrefix = "joint_report";
inline constexpr std::string_view kJointReportNotWritten = "Cannot write the joint report ";

// "joint_report20240305140733.csv" for 14:07:33 on 5 March 2024.
std::string joint_report_name(common::LocalTime when);

// The report's bytes: "Joint Report [2024-03-05 14:07.33]", the header text and the table
// text, each one line (a text that already ends its line gets no second line end).
std::string joint_report_text(common::LocalTime when, const KineticText& table);

// Writes the report of `table` into `project_folder`, stamped with the clock's time taken once;
// an older file of the same name is replaced whole. On failure tells the operator
// ("Cannot write the joint report " + path) and gives nothing; no partial file is left.
std::optional<std::filesystem::path> write_joint_report(const std::filesystem::path& project_folder,
                                                        const KineticText& table,
                                                        common::Clock& clock,
                                                        common::Dialogs& dialogs);

// "Export Data" of the kinetic plot: the view's kinetic table written as the joint report of
// `project_folder` (the current acquisition's project) and opened with the desktop's program
// for .csv files. Nothing outside the kinetic plot. Returns the file written.
std::optional<std::filesystem::path>
export_joint_report(const PlotView& view, const std::filesystem::path& project_folder,
                    common::Clock& clock, common::Dialogs& dialogs, common::Shell& shell);

// The joint report of the acquisitions of `project_folder` tagged `tag` (as tags_id.dat holds
// it) without a window: the groups are those of the earliest tagged acquisition, as if it were
// the current one, and the table is the kinetic plot's. Refuses (tells why, writes nothing)
// when no acquisition carries the tag, when there are 99 or more, or when one of them has no
// counts.bin; a report with a column of zeros for a lost file would read as real data. A stop
// through `cancel` (read between acquisitions) writes nothing.
std::optional<std::filesystem::path>
joint_report_of_tag(const std::filesystem::path& project_folder, std::string_view tag,
                    std::string_view separator, common::Clock& clock, common::Dialogs& dialogs,
                    const common::Cancellation* cancel = nullptr);

} // namespace kestrova::browser
