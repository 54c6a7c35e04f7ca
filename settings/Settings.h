#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>

// The user settings kept between runs: the three of old, then the optional ones: the receiver
// families chosen in the menus and the network ones.
struct AppSettings
{
    std::wstring port;
    std::wstring baudRate = L"4800";
    std::wstring saveFolder;
    // The receiver family chosen by hand, by port name, as its token ("ublox"); a port without
    // an entry has its receiver recognised. Kept in an optional "Receivers" element after the
    // three, written only when there is a choice, so a file without one reads and writes as
    // ever.
    std::map<std::wstring, std::wstring> receiverFamilies{};
    // An NTRIP caster, ntrip://[user[:password]@]host[:port]/MOUNTPOINT; empty: no corrections.
    std::wstring corrections{};
    // Where the receiver is shared, HOST:PORT; empty: not shared.
    std::wstring share{};
};

inline constexpr wchar_t kSettingsFileName[] = L"Orvane.xml";

// A settings file is a few hundred bytes; anything past this is not one and is not read.
inline constexpr std::size_t kMaxSettingsFileSize = 1024 * 1024;

// Reads the file into settings. Fields whose element is missing keep their values; a file that
// is missing, unreadable, too large or not well-formed changes nothing and gives false.
bool LoadSettings(const std::wstring& path, AppSettings& settings);

// Writes settings to path, replacing the file in one step (a new file renamed over the old
// one, so a failed write never leaves half a file) and flushed to the disk before it returns.
// The file is its owner's alone (mode 0600): it may hold a caster's password. The optional
// nodes are written only when set, so a file without them reads as it always did.
// False when the file could not be written; systemError then says why (an errno value).
bool SaveSettings(const AppSettings& settings, const std::wstring& path, int& systemError);
bool SaveSettings(const AppSettings& settings, const std::wstring& path);

// ---- Where the file lives -----------------------------------------------------------------

// What the location rule looks at, so that tests can supply their own.
struct ConfigEnvironment
{
    std::wstring xdgConfigHome; // $XDG_CONFIG_HOME; only an absolute path counts
    std::wstring xdgCacheHome;  // $XDG_CACHE_HOME; only an absolute path counts
    std::wstring home;          // $HOME, else the password database's home folder
    // Whether a file can be created in the folder (an empty folder means "/").
    std::function<bool(const std::wstring& folder)> canCreateIn;
};

// The environment of this process, with IsWritableFolder as the check.
ConfigEnvironment CurrentConfigEnvironment();

// Next to the executable when the file can be kept there (a portable install: the file is
// there and writable, or the folder is writable); otherwise Orvane/Orvane.xml in the user's
// configuration folder ($XDG_CONFIG_HOME, else ~/.config), which is created when missing.
std::wstring ComputeConfigPath(const std::wstring& exePath, const ConfigEnvironment& env);
std::wstring ComputeConfigPath(const std::wstring& exePath);

// The user's configuration folder ($XDG_CONFIG_HOME, else ~/.config) and cache folder
// ($XDG_CACHE_HOME, else ~/.cache); empty without a home.
std::wstring UserConfigFolder(const ConfigEnvironment& env);
std::wstring UserCacheFolder(const ConfigEnvironment& env);

// ---- Orvane's own folders -----------------------------------------------------------------

// The folder under the user's configuration folder that holds the window state, and under the
// cache folder that holds the map's tiles (in web/).
inline constexpr char kUserFolderName[] = "orvane";
// What an earlier Orvane filed them under: the name a Windows wizard gave it.
inline constexpr char kEarlierFolderName[] = "Local AppWizard-Generated Applications";

// Moves a file or a folder to `to`, whose parent folders are made. In one rename where it
// can, else (another file system) copied under a temporary name, renamed into place and
// removed. What is there already is merged into: folder with folder, entry by entry, and of
// two files of one name the newer is kept. False when anything stayed behind.
bool MoveOver(const std::string& from, const std::string& to);

// Start-up, before the window state or the map's cache is opened: what an earlier Orvane left
// under kEarlierFolderName (the window state in the configuration folder, the tile cache in
// the cache folder) is moved into Orvane's own folders, and the old folders go once empty.
// Finding nothing, it does nothing. False when something could not be moved.
bool MoveEarlierUserFiles(const ConfigEnvironment& env);

// The running executable's full path, empty when it cannot be had.
std::wstring CurrentExecutablePath();

// Really tries: creates and removes a file in the folder (permission bits alone say nothing
// for root, nor for read-only mounts).
bool IsWritableFolder(const std::wstring& folder);
