#pragma once
// The gallery's pages of the client's cloud browser and transfer list (both languages).
#include <QString>

#include <string>

// Renders the windows below `out`/client/; `appDirectory` holds the client's
// "language" folder. The number of pictures that could not be made.
int RenderClientBrowserWindows(const QString& out, const std::string& appDirectory);
