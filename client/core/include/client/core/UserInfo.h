#pragma once
// Saved logins ("UserInfoList.xml" in the Config folder) and the record of the user who
// is logged in. Kept passwords are stored enciphered (StringCipher); in memory they are
// plain text and are never logged.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "client/core/StringCipher.h"

// One saved login. A login is identified by account and server together.
struct UserInfo {
    std::string Account;  // the e-mail
    std::string Password;
    std::string ServerDomainName;
    std::string LanguageCode;
    std::int32_t KeepPassword = 0;  // 1: the password is saved
    std::int32_t AutoLogin = 0;     // 1: this entry logs in automatically
    std::int32_t Reserved1 = 0;
    std::int32_t Reserved2 = 0;

    void Assign(const UserInfo& other) { *this = other; }
    void Clear() { *this = UserInfo(); }
    // True when Account, Password, ServerDomainName, LanguageCode or KeepPassword differ
    // (the auto-login flag is not compared).
    bool Differs(const UserInfo& other) const;
};

class UserInfoList {
public:
    static constexpr const char* kFileName = "UserInfoList.xml";

    // Index of the entry of that account on that server, -1 when none.
    int FindLogin(const UserInfo& login, const std::string& serverDomain) const;
    // Records a login as the most recent one (first in the list) and makes it current;
    // its auto-login flag moves the auto-login mark to it or (when clear) off it. True
    // when the list changed.
    bool AddOrUpdate(const UserInfo& login);
    // Copies of the entries in order, the auto-login entry with its flag set; the count.
    int GetUsers(std::vector<UserInfo>& out) const;
    // A copy of the current entry (an empty record when there is none).
    UserInfo GetCurrentUser() const;

    // The file's text: declaration, root "Dravik" (type="UserInfoList", autoLogin=index),
    // one "User" element per entry; cut after the last '>'.
    bool ToXml(std::string& out) const;
    // Replaces the entries with those of the text: the number read, or -1 (and an empty
    // list) when the text does not parse. A kept password that does not decipher is
    // dropped alone (that entry keeps an empty password). The current index is kept.
    int FromXml(std::string_view text);

    int AutoLoginIndex() const { return autoLoginIndex_; }
    int CurrentIndex() const { return currentIndex_; }
    void SetCurrentIndex(int index) { currentIndex_ = index; }
    const std::vector<UserInfo>& Entries() const { return users_; }

private:
    std::vector<UserInfo> users_;  // auto-login flags stored as 0; the index says which
    int autoLoginIndex_ = -1;
    int currentIndex_ = -1;
    StringCipher cipher_;
};

// Reads "UserInfoList.xml" into `list`. A missing or empty file gives an empty list and
// true. A file that does not parse, or a folder in the way, is moved aside
// (SetFileAside) and treated as missing (true, empty list). False only when an existing
// file cannot be read.
bool LoadUserInfoListFile(const std::string& path, UserInfoList& list);
// Writes the list through a temporary file and a rename, mode 0600. True when written.
bool SaveUserInfoListFile(const std::string& path, const UserInfoList& list);

// The logged-in user. Every getter returns "" until the record is marked valid.
class CurrentUser {
public:
    void Clear() { *this = CurrentUser(); }

    std::string GetAccount() const { return valid ? account : std::string(); }
    std::string GetUserName() const { return valid ? userName : std::string(); }
    std::string GetPassword() const { return valid ? password : std::string(); }
    std::string GetServer() const { return valid ? server : std::string(); }
    std::string GetLanguageCode() const { return valid ? languageCode : std::string(); }
    std::string GetDisplayName() const { return valid ? displayName : std::string(); }
    std::string GetHomeFolder() const { return valid ? homeFolder : std::string(); }
    std::string GetTrashHome() const { return valid ? trashHome : std::string(); }

    std::string account;
    std::string userName;  // "userName" of the server's user record
    std::string password;
    std::string server;
    std::string languageCode;
    std::string displayName;  // "name"
    std::int64_t reserved = 0;
    std::string homeFolder;   // "homeFolder"
    std::string trashHome;    // "trashesHome"
    bool valid = false;
};
