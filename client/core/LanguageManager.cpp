#include "client/core/LanguageManager.h"

#include <mutex>
#include <sstream>

#include <rapidjson/document.h>

#include "client/core/ClientFiles.h"
#include "client/core/ClientLog.h"
#include "client/core/MessageManage.h"
#include "client/core/MoCatalog.h"
#include "client/core/TextHelpers.h"
#include "platform/text.h"

namespace {
const char kLanguageFolder[] = "/language";
const char kDataFolder[] = "/data";
const char kListFile[] = "/language.json";

// A catalogue name must name a file inside the data folder.
bool IsPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos &&
           name.find('\0') == std::string::npos;
}
}  // namespace

const std::vector<std::string>& LanguageManager::DefaultKeys() {
    static const std::vector<std::string> keys = {
    "Company Name",
    "Dravik Information Technology Co., Ltd.",
    "Dravik",
    "Open",
    "Close",
    "OK",
    "Cancel",
    "Fail",
    "Success",
    "Refresh",
    "Reset",
    "Progress",
    "Direction",
    "Type",
    "Finish Time",
    "User Name",
    "Password",
    "Auto Login",
    "Memory Password",
    "Server",
    "Login",
    "Logout",
    "Exit",
    "Configure",
    "About",
    "Version",
    "Copyright",
    "Language",
    "Save",
    "None",
    "State",
    "CloudRoot",
    "MyDocument",
    "RecycleBin",
    "CollaborateGroup",
    "PublicGroup",
    "Save && Close",
    "Global",
    "Current User",
    "Auto Start",
    "Directory Refresh Interval(second)",
    "Used while no user is logged in.",
    "Settings saved.",
    "Settings saved. The global language is used once no user is logged in; the current user's language stays in force.",
    "Max Number of Trans File",
    "Please input the correct URL of the Server.",
    "Input Error data of %s, correct range is [%d, %d].",
    "Name",
    "Ver",
    "Permission",
    "Size",
    "Modifier",
    "Modify Time",
    "New",
    "Upload",
    "Download",
    "Delete",
    "Restore",
    "Rename",
    "Transfer List",
    "Empty Recycle Bin",
    "Up Folder",
    "Root",
    "Edit",
    "Preview",
    "No permission",
    "Uploading",
    "Downloading",
    "Editing",
    "Previewing",
    "Input Window - New Folder",
    "Input the new Folder Name:",
    "Input Window - Rename",
    "Old name is \"",
    "\", Input the new Name:",
    "Select the location to save file",
    "No permission to UPLOAD.",
    "The folder could not be opened.",
    "The folder could not be created.",
    "The item could not be renamed.",
    "The items could not be deleted.",
    "The items could not be restored.",
    "The Recycle Bin could not be emptied.",
    "The server cannot be reached.",
    "The session has ended and logging in again failed.",
    "You have no permission for this.",
    "There is not enough space on the server.",
    "The server refused the data.",
    "The server refused the request.",
    "Log in again",
    "Reason",
    "The session has ended.",
    "The server's reply could not be read.",
    "The transfer failed.",
    "Stopped by the logout or the exit.",
    "The local file is missing.",
    "The local file cannot be read.",
    "The cloud item could not be listed.",
    "The cloud folder could not be made.",
    "Item Name:",
    "You can't open this location using this program. Please try a different location.",
    "All files and folders",
    "Folders",
    "Select files and folders to upload - Dravik",
    "Select folder to save download files - Dravik",
    "Add download task failed.",
    "File exists in the edit list.",
    "Exceed the maximum of the edit file. Please CLOSE some open files.",
    "Local file has been occupied.",
    "No permissions to open the file.",
    "Edit file by double click, auto-upload when save it local.",
    "You can upload folder(s) and/or file(s) by drag it to main window, or use 'Ctrl+C' to copy folder(s) and/or file(s) and then 'Ctrl+V' to paste them in main window more easily.",
    "Transferring List",
    "Finished List",
    "Waitting",
    "Transfer",
    "Succeed List",
    "Failed List",
    "Operation",
    "Retry",
    "All retry",
    "Have failed",
    "All successful",
    "Transfer prompt",
    "Tranfer Finished: %d",
    "Total / Waiting / Transferring: %d / %d / %d",
    "Tranfer Succeed: %d",
    "Tranfer Failed: %d",
    "Transfer a total of %d files, including %d successful transmission files, failure %d files.",
    "Are you sure you want to empty the Recycle Bin？",
    "Delete files",
    "Are you sure you want to delete？",
    "Sync",
    "Start",
    "Cloud path",
    "Sync list",
    "Restore/Pause sync",
    "Restore sync",
    "Pause sync",
    "Change path",
    "Abnormal synchronization function, automatic exit.",
    "Synchronization function login failed.",
    "Version upgrade",
    "Update",
    "Not update",
    "Cancel update",
    "Skip this version",
    "Downloading new version...",
    "New version detected:",
    "The current version is the latest version.",
    "Failed to detect version!",
    "Installation file occupied!",
    "Download failed!",
    "Current version:",
    "Check update",
    "Login - Dravik",
    "Login failed. Please make sure Username, Password and Domain Name are all correct.",
    "Please input Username, password and server domain name.",
    "Main Window",
    "Cloud Web",
    "Dravik Client",
    "Login information",
    "Logout information",
    "Tips",
    "Welcome ",
    ". You're in Dravik now.",
    "Sorry, login failed. Please login again.",
    ", see you next time.",
    "About Dravik",
    "Enterprises content management cloud platform",
    // Texts of this build: a login the sync program cannot take, the saved installer.
    "The account and password cannot be handed to the synchronization function (too long, or holding characters it cannot take).",
    "The installer of the new version was saved in this folder:",
    // The settings dialog: a configuration file that could not be written.
    "The settings could not be written to Config.xml.",
    };
    return keys;
}

void LanguageManager::SetAppDirectory(const std::string& appDirectory) {
    std::unique_lock lock(mutex_);
    appDirectory_ = appDirectory;
}

void LanguageManager::SetMessageSink(SendControlMessageInterface* sink) {
    std::unique_lock lock(mutex_);
    sink_ = sink;
}

void LanguageManager::LoadLanguageList() {
    std::string path;
    {
        std::shared_lock lock(mutex_);
        path = appDirectory_ + kLanguageFolder + kListFile;
    }
    std::string bytes;
    if (ReadWholeFile(path, bytes) != FileRead::Read) return;
    const std::string text = SkipUtf8Bom(bytes);

    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseIterativeFlag>(text.c_str(), text.size());  // no recursion, however deep
    if (doc.HasParseError() || !doc.IsObject()) return;
    const auto major = doc.FindMember("majorVersion");
    const auto minor = doc.FindMember("minorVersion");
    const auto set = doc.FindMember("languageSet");
    if (major == doc.MemberEnd() || !major->value.IsInt() || minor == doc.MemberEnd() || !minor->value.IsInt() ||
        set == doc.MemberEnd() || !set->value.IsArray())
        return;

    std::vector<LanguageEntry> entries;
    for (const auto& element : set->value.GetArray()) {
        LanguageEntry entry;
        if (element.IsObject()) {
            std::string* fields[] = {&entry.LangCode, &entry.EnglishName, &entry.NativeName, &entry.DataFileName,
                                     &entry.ImageName};
            const char* names[] = {"LangCode", "EnglishName", "NativeName", "DataFileName", "ImageName"};
            bool complete = true;
            for (int i = 0; i < 5 && complete; ++i) {
                const auto m = element.FindMember(names[i]);
                complete = m != element.MemberEnd() && m->value.IsString();
                if (complete) fields[i]->assign(m->value.GetString(), m->value.GetStringLength());
            }
            if (!complete) break;  // the list ends before an incomplete entry
        }
        entries.push_back(std::move(entry));  // an element that is not an object: empty entry
    }

    std::unique_lock lock(mutex_);
    majorVersion_ = major->value.GetInt();
    minorVersion_ = minor->value.GetInt();
    entries_ = std::move(entries);
}

std::string LanguageManager::SetLanguage(const std::string& code) {
    LanguageEntry entry;
    std::string path;
    {
        std::shared_lock lock(mutex_);
        if (code == currentCode_) return currentCode_;
        const LanguageEntry* found = nullptr;
        for (const LanguageEntry& e : entries_) {
            if (e.LangCode == code) {
                found = &e;
                break;
            }
        }
        if (!found) return std::string();
        entry = *found;
        path = appDirectory_ + kLanguageFolder + kDataFolder + "/" + entry.DataFileName;
    }

    // Build the new table aside; the one in force stays until it is complete. The
    // catalogue is held only while the table is filled.
    const auto catalog = IsPlainFileName(entry.DataFileName) ? MoCatalog::FromFile(path) : nullptr;
    if (!catalog) {
        LogClientInfo("<language>The catalogue of " + code + " could not be read: " + path);
        return std::string();
    }
    Table table;
    for (const std::string& key : DefaultKeys()) {
        const std::string* text = catalog->Find(key);
        table.emplace(key, text ? *text : key);
    }

    {
        std::unique_lock lock(mutex_);
        table_.swap(table);
        currentCode_ = entry.LangCode;
    }
    NotifyLanguageChanged();
    return entry.LangCode;
}

int LanguageManager::GetCurrentLanguage(LanguageEntry& entry, int& index) const {
    std::shared_lock lock(mutex_);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].LangCode == currentCode_) {
            entry = entries_[i];
            index = static_cast<int>(i);
            return 1;
        }
    }
    index = static_cast<int>(entries_.size());
    return 0;
}

std::string LanguageManager::GetCurrentCode() const {
    std::shared_lock lock(mutex_);
    return currentCode_;
}

std::vector<LanguageEntry> LanguageManager::GetLanguages() const {
    std::shared_lock lock(mutex_);
    return entries_;
}

std::int32_t LanguageManager::MajorVersion() const {
    std::shared_lock lock(mutex_);
    return majorVersion_;
}

std::int32_t LanguageManager::MinorVersion() const {
    std::shared_lock lock(mutex_);
    return minorVersion_;
}

std::string LanguageManager::LookUp(std::string_view key) const {
    std::shared_lock lock(mutex_);
    const auto it = table_.find(key);
    return it != table_.end() ? it->second : std::string(key);
}

std::u16string LanguageManager::LookUpWide(std::string_view key) const { return plat::ToUtf16(LookUp(key)); }

void LanguageManager::NotifyLanguageChanged() {
    SendControlMessageInterface* sink = nullptr;
    std::string code;
    {
        std::shared_lock lock(mutex_);
        sink = sink_;
        code = currentCode_;
    }
    if (sink) sink->SendControlMessage(ControlMessage::Make(MessageSourceService, MessageLanguageChanged, code));
}
