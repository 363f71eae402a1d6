// The sandbox that Wine may run in (a Flatpak, Steam's container, a Snap,
// a toolbox or distrobox container), and the channel through which modrik
// reaches the host's player from there. Inside a sandbox, the /bin/sh that
// Wine starts is the sandbox's: the host's player is not there, so its host
// command goes through the channel the sandbox offers.
//
// A sandbox is what its files show; its variables only say more about one
// the files show (a variable left over in a terminal on the host makes no
// sandbox). The decisions are plain functions of what the sandbox shows, so
// that each can be checked on its own.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace modrik {

enum class SandboxKind { kNone, kFlatpak, kSteamContainer, kSnap, kContainer };

enum class HostChannel {
  kDirect,        // no sandbox: host commands run as they are
  kFlatpakSpawn,  // flatpak-spawn --host (a Flatpak allowed to talk to org.freedesktop.Flatpak)
  kLaunchClient,  // steam-runtime-launch-client --alongside-steam (Steam's launcher service)
  kPortal,        // the desktop's opener, through the portal (the sandbox's xdg-open FILE)
  kWayOut,        // a toolbox's or distrobox's way out: flatpak-spawn --host, host-spawn, distrobox-host-exec
};

// What a program inside can read about its sandbox.
struct SandboxFacts {
  bool hasFlatpakInfo = false;  // /.flatpak-info exists; from it:
  std::string flatpakName;      //   [Application] name
  std::string flatpakPolicy;    //   [Session Bus Policy] org.freedesktop.Flatpak
  std::string filesystems;      //   [Context] filesystems
  std::string persistent;       //   [Context] persistent
  std::string containerManager;  // /run/host/container-manager, first line
  // A strict Snap's own mounts: the root is a snap (/meta/snap.yaml), or
  // /var/lib/snapd/hostfs holds the host's root (on the host it is empty).
  bool snapMounts = false;
  // A podman or docker container: /run/.containerenv, /run/.toolboxenv
  // (toolbox's), /.dockerenv; and the container's ways out to the host
  // found in it (their paths).
  bool containerEnv = false, toolboxEnv = false, dockerEnv = false;
  std::vector<std::string> wayOuts;
  std::map<std::string, std::string> variables;  // those of SandboxVariables() that are set
  std::string home;              // the user's home, as this process sees it
};

// The variables that say more about a sandbox.
const std::vector<std::string>& SandboxVariables();
// The programs that lead out of a toolbox or distrobox container, in the
// order they are preferred.
const std::vector<std::string>& WayOutNames();

struct Sandbox {
  SandboxKind kind = SandboxKind::kNone;
  HostChannel channel = HostChannel::kDirect;
  std::string appId;    // the Flatpak's id, the Snap's name, "toolbox" or "distrobox"
  std::string home;     // $HOME inside
  std::string hostHome; // where the host sees the user's home
  // Flatpak: the home is visible (filesystems=home or host); the folders of
  // the home that the app keeps in ~/.var/app/<id> instead (persistent=).
  bool homeVisible = true;
  std::vector<std::string> persistent;
  // Inside a Flatpak (also Steam's container inside Steam's Flatpak), and
  // reaching the host through it from inside that container too.
  bool inFlatpak = false;
  bool alsoFlatpakSpawn = false;
  std::string runtimeDir;  // $XDG_RUNTIME_DIR
  // A container's way out: the command words that run a host command.
  std::vector<std::string> wayOut;
};

// The value of `vlcpath` in modrik.ini that stands for the desktop's opener.
extern const char kDesktopOpener[];

// ---- decisions ----
Sandbox DecideSandbox(const SandboxFacts& facts);
// True when a start of this player goes as on a plain host, in a toolbox or
// distrobox container: a player the container has (`inside`), unless it is
// the launcher of a Flatpak or a Snap, which needs the host's flatpak or
// snap.
bool ContainersOwnPlayer(const Sandbox& sandbox, const std::string& playerPath, bool inside);
// The command words that run `argv` on the host through the channel; argv
// itself when there is no sandbox. Not for the portal, which runs no
// command: empty then.
std::vector<std::string> HostCommand(const Sandbox& sandbox, const std::vector<std::string>& argv);
// Where the host sees a path that the sandbox names; empty, with *why set,
// when the host cannot see it at all.
std::string HostPathOf(const Sandbox& sandbox, const std::string& path, std::string* why);
// The folder a host command started through the channel works in: `folder`
// when the host has it at the same path, else the home (which both sides
// share). A channel's host side fails in a folder that only the sandbox has.
std::string HostWorkingFolder(const Sandbox& sandbox, const std::string& folder);
// The places of modrik's private folder (the runtime folder, the cache
// folder), where the host sees them at the same path: inside a Flatpak, the
// app's own ($XDG_RUNTIME_DIR/app/<id>, ~/.var/app/<id>/cache); in Steam's
// container only the cache folder (its /run is its own); else as given.
struct PrivatePlaces {
  std::string runtime, cache;
};
PrivatePlaces SharedPrivatePlaces(const Sandbox& sandbox, const PrivatePlaces& usual);

// Opening with the desktop's opener: the file or address it opens, or the
// playlist it opens instead, and the trace lines that say what is lost and
// how to get the full hand-off.
struct OpenerPlan {
  std::string open;  // the one file or address; with a list, its first entry (if the list cannot be written)
  std::string list;  // the playlist's bytes, when one is opened
  std::vector<std::string> traces;
};
// How to get the full hand-off where the desktop's opener is all there is.
std::string FullHandOffHint(const Sandbox& sandbox);

// Names for the trace.
std::string ChannelName(HostChannel channel);

// ---- the sandbox of this process ----
SandboxFacts ReadSandboxFacts(const std::string& home);
// Decided once per process (on the first call, with the home then given),
// and traced.
const Sandbox& CurrentSandbox(const std::string& home);

}  // namespace modrik
