#include "client/core/UserInfo.h"

#include <sstream>

#include "client/core/ClientFiles.h"
#include "client/core/ClientLog.h"
#include "client/core/TextHelpers.h"
#include "client/core/XmlSupport.h"

namespace {
const char kRoot[] = "Dravik";
const char kUser[] = "User";
}  // namespace

bool UserInfo::Differs(const UserInfo& other) const {
    return Account != other.Account || Password != other.Password || ServerDomainName != other.ServerDomainName ||
           LanguageCode != other.LanguageCode || KeepPassword != other.KeepPassword;
}

int UserInfoList::FindLogin(const UserInfo& login, const std::string& serverDomain) const {
    for (std::size_t i = 0; i < users_.size(); ++i)
        if (users_[i].ServerDomainName == serverDomain && users_[i].Account == login.Account) return static_cast<int>(i);
    return -1;
}

bool UserInfoList::AddOrUpdate(const UserInfo& login) {
    UserInfo entry = login;
    entry.AutoLogin = 0;  // the auto-login index alone marks the entry
    const bool wantsAuto = login.AutoLogin != 0;
    const int a = FindLogin(login, login.ServerDomainName);

    if (a < 0) {
        users_.insert(users_.begin(), entry);
        currentIndex_ = 0;
        if (wantsAuto) autoLoginIndex_ = 0;
        else if (autoLoginIndex_ >= 0) ++autoLoginIndex_;
        return true;
    }
    if (!users_[static_cast<std::size_t>(a)].Differs(login) && wantsAuto == (a == autoLoginIndex_)) {
        currentIndex_ = a;
        return false;
    }
    // Where the auto-login mark points before the entry moves to the front.
    int autoEntry = autoLoginIndex_;
    if (wantsAuto) autoEntry = a;
    else if (a == autoLoginIndex_) autoEntry = -1;

    users_.erase(users_.begin() + a);
    users_.insert(users_.begin(), entry);
    currentIndex_ = 0;
    if (autoEntry == a) autoLoginIndex_ = 0;
    else if (autoEntry >= 0 && autoEntry < a) autoLoginIndex_ = autoEntry + 1;
    else autoLoginIndex_ = autoEntry;  // -1, or behind the moved entry: unchanged
    return true;
}

int UserInfoList::GetUsers(std::vector<UserInfo>& out) const {
    out = users_;
    if (autoLoginIndex_ >= 0 && autoLoginIndex_ < static_cast<int>(out.size()))
        out[static_cast<std::size_t>(autoLoginIndex_)].AutoLogin = 1;
    return static_cast<int>(out.size());
}

UserInfo UserInfoList::GetCurrentUser() const {
    if (currentIndex_ < 0 || currentIndex_ >= static_cast<int>(users_.size())) return UserInfo();
    UserInfo user = users_[static_cast<std::size_t>(currentIndex_)];
    if (currentIndex_ == autoLoginIndex_) user.AutoLogin = 1;
    return user;
}

bool UserInfoList::ToXml(std::string& out) const {
    rapidxml::xml_document<> doc;
    xmlsupport::StartDocument(doc);
    auto* root = doc.allocate_node(rapidxml::node_element, kRoot);
    root->append_attribute(doc.allocate_attribute("type", "UserInfoList"));
    root->append_attribute(doc.allocate_attribute("autoLogin", xmlsupport::Keep(doc, std::to_string(autoLoginIndex_))));
    doc.append_node(root);
    for (const UserInfo& u : users_) {
        auto* node = doc.allocate_node(rapidxml::node_element, kUser);
        const auto attr = [&](const char* name, std::string_view value) {
            node->append_attribute(doc.allocate_attribute(name, xmlsupport::Keep(doc, value)));
        };
        const bool keep = u.KeepPassword == 1;
        attr("Account", u.Account);
        attr("ServerDomainName", u.ServerDomainName);
        attr("LanguageCode", u.LanguageCode);
        attr("KeepPassword", keep ? "T" : "F");
        attr("Password", keep ? cipher_.EncryptToHex(u.Password) : std::string());
        root->append_node(node);
    }
    out = xmlsupport::Print(doc);
    const std::size_t last = out.rfind('>');
    if (last != std::string::npos) out.resize(last + 1);
    return true;
}

int UserInfoList::FromXml(std::string_view text) {
    users_.clear();
    autoLoginIndex_ = -1;
    xmlsupport::ParsedXml xml;
    if (!xml.Parse(text)) return -1;
    rapidxml::xml_node<>* root = xml.Root(kRoot);
    if (!root) return -1;

    int dropped = 0;
    for (auto* node = root->first_node(kUser); node; node = node->next_sibling(kUser)) {
        UserInfo u;
        u.Account = xmlsupport::ValueOf(node->first_attribute("Account"));
        u.ServerDomainName = xmlsupport::ValueOf(node->first_attribute("ServerDomainName"));
        u.LanguageCode = xmlsupport::ValueOf(node->first_attribute("LanguageCode"));
        u.KeepPassword = xmlsupport::ValueOf(node->first_attribute("KeepPassword")) == "T" ? 1 : 0;
        if (u.KeepPassword == 1) {
            if (auto plain = cipher_.DecryptFromHex(xmlsupport::ValueOf(node->first_attribute("Password"))))
                u.Password = std::move(*plain);
            else
                ++dropped;
        }
        users_.push_back(std::move(u));
    }
    // An index that designates no entry marks none.
    const int autoLogin = ParseLeadingInt(xmlsupport::ValueOf(root->first_attribute("autoLogin")));
    autoLoginIndex_ = autoLogin >= 0 && autoLogin < static_cast<int>(users_.size()) ? autoLogin : -1;
    if (dropped > 0) {
        std::ostringstream line;
        line << "<userlist>" << dropped << " saved password(s) could not be deciphered and were dropped";
        LogClientInfo(line.str());
    }
    return static_cast<int>(users_.size());
}

bool LoadUserInfoListFile(const std::string& path, UserInfoList& list) {
    // Saved passwords are the user's alone: a list others could read is closed first.
    if (MakeFilePrivate(path) == 1) {
        LogClientInfo("<userlist>" + path + " was readable by other users; it is now readable by its owner only");
    }
    std::string text;
    const FileRead read = ReadWholeFile(path, text);
    if (read == FileRead::Missing || (read == FileRead::Read && text.empty())) return true;
    if (read == FileRead::Read && list.FromXml(text) >= 0) return true;
    // Not readable, not a file, or not a login list: keep it under another name.
    const std::string aside = SetFileAside(path);
    std::ostringstream line;
    line << "<userlist>" << path << " is not a readable login list; "
         << (aside.empty() ? std::string("it could not be moved aside") : "kept as " + aside);
    LogClientInfo(line.str());
    return read != FileRead::Failed;
}

bool SaveUserInfoListFile(const std::string& path, const UserInfoList& list) {
    std::string text;
    if (!list.ToXml(text)) return false;
    return WriteFileReplacing(path, text, 0600);
}
