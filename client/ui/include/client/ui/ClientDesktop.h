#pragma once
// What the client's windows ask of the desktop besides their own widgets: message boxes
// and opening addresses and folders with the desktop's programs. QtClientDesktop
// (client/desktop) shows and opens; the tests record. UI thread only.
#include <string>

class ClientDesktop {
public:
    enum class BoxIcon { Information, Exclamation, Error };
    virtual ~ClientDesktop() = default;
    // A modal message box with an OK button (texts already translated, UTF-8).
    virtual void MessageBox(const std::string& caption, const std::string& text, BoxIcon icon) = 0;
    // Opens a web address (http or https only) in the browser; false when refused.
    virtual bool OpenAddress(const std::string& url) = 0;
    // Shows a local folder in the file manager; false when refused.
    virtual bool OpenFolder(const std::string& path) = 0;
};

// The address the tray's Cloud Web command opens for a server domain: the domain with
// "http://" in front when it names no scheme; empty (nothing opened) unless the scheme is
// http or https and a host follows.
std::string WebAddressOf(const std::string& serverDomain);
