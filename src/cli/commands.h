#pragma once

// The commands of veltrane-cli, one definition each; every command's file
// holds its options, checks and what it does.

#include "cli/command.h"

namespace veltrane {

Command DefineInfo(CLI::App& tool);
Command DefineExport(CLI::App& tool);
Command DefineConvert(CLI::App& tool);
Command DefineImport(CLI::App& tool);
Command DefineImportFolder(CLI::App& tool);
Command DefineSmooth(CLI::App& tool);
Command DefineMakeLibrary(CLI::App& tool);
Command DefineToDevice(CLI::App& tool);
Command DefineList(CLI::App& tool);
Command DefineMeasure(CLI::App& tool);
Command DefineIdentify(CLI::App& tool);
Command DefineBaseline(CLI::App& tool);
Command DefineCheckAxis(CLI::App& tool);
// Only where Qt draws the page.
Command DefineReport(CLI::App& tool);
// Hidden: the bash completion script, read off the other definitions.
Command DefineCompletion(CLI::App& tool);

} // namespace veltrane
