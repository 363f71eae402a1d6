// Puts every process-wide value of the program back to its start state, so
// that each test sees a freshly started process.
#include "desktop/desktop.h"
#include "fake_platform.h"
#include "launcher/launcher.h"
#include "winebridge/winebridge.h"

namespace fake {

void ResetProgramState() {
  modrik::UnderWine = false;
  modrik::SettingsPath.clear();
  modrik::PlayerPath.clear();
  modrik::CachedWineVersion.clear();
  modrik::Home = modrik::HomeState::kUnchecked;
  modrik::DriveMap.clear();
  modrik::DriveLinks.clear();
  modrik::DriveMapLoaded = false;
  modrik::PrivateFolder.reset();
  modrik::PrivateFolderUnverified = false;
  modrik::HostStateRead = false;
  modrik::DriveListingTime = 0;
  modrik::IconsSet.clear();
  modrik::HostProgramsRun = 0;
  modrik::ScriptNotWritten = false;
  modrik::GroupsSeen = 0;
  modrik::WantedGroup = 0;
  modrik::LargestWidth = 0;
  modrik::IconFilePath.clear();
  modrik::IconComplaints.clear();
}

}  // namespace fake
