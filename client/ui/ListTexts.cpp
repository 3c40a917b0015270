#include "client/ui/ListTexts.h"

#include <cstdio>

#include "client/core/HttpClient.h"
#include "client/core/TransferRecords.h"

std::string TimeToSecond(const DateTime& time) {
    const std::string text = time.ToString();
    const std::size_t dot = text.find('.');
    return dot == std::string::npos ? text : text.substr(0, dot);
}

std::string PercentText(double done, double total) {
    char text[64];
    const double value = total > 0.1f ? done * 100.0 / total : 0.0;
    std::snprintf(text, sizeof text, "%.2f%%", value);
    return text;
}

const char* FailureReasonKey(int failure) {
    switch (failure) {
        case HttpErrorTransport: return "The server cannot be reached.";
        case HttpErrorNotLoggedIn: return "The session has ended.";
        case HttpErrorNoPermission: return "You have no permission for this.";
        case HttpErrorQuota: return "There is not enough space on the server.";
        case HttpErrorInvalidData: return "The server refused the data.";
        case HttpErrorReplyData: return "The server's reply could not be read.";
        case TransferFailureNone: return "The transfer failed.";
        case TransferFailureStopped: return "Stopped by the logout or the exit.";
        case TransferFailureLocalMissing: return "The local file is missing.";
        case TransferFailureLocalUnreadable: return "The local file cannot be read.";
        case TransferFailureNotListed: return "The cloud item could not be listed.";
        case TransferFailureRemoteFolder: return "The cloud folder could not be made.";
        default: return "The server refused the request.";
    }
}

std::string ShownCloudPath(const std::string& path, const std::function<std::string(const std::string&)>& translate) {
    if (path.size() < 2 || path[0] != '/') return std::string();
    const std::size_t second = path.find('/', 1);
    if (second == std::string::npos) return std::string();
    const std::size_t third = path.find('/', second + 1);
    const std::string root = path.substr(second + 1, third == std::string::npos ? std::string::npos : third - second - 1);
    const std::string rest = third == std::string::npos ? std::string() : path.substr(third);
    return "/" + translate(root) + rest;
}
