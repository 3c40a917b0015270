#pragma once
// Message numbers of the sync program's main window. Workers post (or send) them; the
// main window's message loop dispatches them.
#include <cstdint>

constexpr std::uint32_t WM_USER = 0x0400;
constexpr std::uint32_t WM_APP = 0x8000;

// Server-inventory thread: login result.
constexpr std::uint32_t WM_LOGIN_SUCCESS = WM_APP + 0x0D;
constexpr std::uint32_t WM_LOGIN_FAILURE = WM_APP + 0x0E;
// Local scan thread.
constexpr std::uint32_t WM_DEVICE_SCAN_FINISHED = WM_APP + 0x15;
constexpr std::uint32_t WM_ALL_FILES_HASH = WM_APP + 0x17;
// Cycle driver.
constexpr std::uint32_t WM_ALPHA_CONFORM = WM_APP + 0x1F;
constexpr std::uint32_t WM_DELTA_CONFORM = WM_APP + 0x20;
constexpr std::uint32_t WM_GAMMA_CONFORM = WM_APP + 0x21;
constexpr std::uint32_t WM_SIGMA_CONFORM = WM_APP + 0x22;
// Network monitor (timer 102 debounce).
constexpr std::uint32_t WM_ADAPTER_CHANGE = WM_APP + 0x29;
// The sync-details pages' messages (WM_APP+0x65 to WM_APP+0x68) are in sync/ui/FeedLists.h.
// Pipe commands from the client program.
constexpr std::uint32_t WM_PIPE_LOGIN = WM_USER + 0x191;
constexpr std::uint32_t WM_PIPE_EXIT = WM_USER + 0x192;
constexpr std::uint32_t WM_PIPE_OPEN_FOLDER = WM_USER + 0x193;
constexpr std::uint32_t WM_PIPE_SHOW_DETAILS = WM_USER + 0x194;
constexpr std::uint32_t WM_PIPE_SYNC_PAUSE = WM_USER + 0x195;
// Pause and resume share one message (wParam says which).
constexpr std::uint32_t WM_PIPE_CHOOSE_FOLDER = WM_USER + 0x196;
constexpr std::uint32_t WM_PIPE_LANGUAGE_ENGLISH = WM_USER + 0x197;
constexpr std::uint32_t WM_PIPE_LANGUAGE_CHINESE = WM_USER + 0x198;

// Pending-work reasons carried by WM_DELTA_CONFORM.
constexpr std::uint32_t kReasonLocalRescan = 1;
constexpr std::uint32_t kReasonServerRescan = 2;
constexpr std::uint32_t kReasonLocalChanges = 4;
constexpr std::uint32_t kReasonServerListing = 8;
