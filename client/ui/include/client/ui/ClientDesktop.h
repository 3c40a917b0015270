#pragma once
// What the client's windows ask of the desktop besides their own widgets: message boxes
// and opening addresses and folders with the desktop's programs. QtClientDesktop
// (client/desktop) shows and opens; the tests record. UI thread only.
#include <functional>
#include <string>

class ClientDesktop {
public:
    enum class BoxIcon { Information, Exclamation, Error };
    virtual ~ClientDesktop() = default;
    // A modal message box with an OK button (texts already translated, UTF-8).
    virtual void MessageBox(const std::string& caption, const std::string& text, BoxIcon icon) = 0;
    // Opens a web address (http or https only) in the browser; shows a local folder in the
    // file manager. `failed` runs on the UI thread, at once or when the desktop's opener
    // has ended, when nothing opened: the address was refused, or no program took it.
    virtual void OpenAddress(const std::string& url, std::function<void()> failed) = 0;
    virtual void OpenFolder(const std::string& path, std::function<void()> failed) = 0;
};

// The address the tray's Cloud Web command opens for a server domain: the domain with
// "http://" in front when it names no scheme; empty (nothing opened) unless the scheme is
// http or https and a host follows.
std::string WebAddressOf(const std::string& serverDomain);
