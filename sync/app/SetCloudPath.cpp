#include "sync/app/SetCloudPath.h"

#include <log4cpp/Category.hh>

#include "platform/fileops.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/SyncLog.h"
#include "sync/common/unicode.h"

namespace {

std::string_view WithoutTrailingSlash(std::string_view folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
    return folder;
}

std::u16string WithoutTrailingSlash(std::u16string folder) {
    while (folder.size() > 1 && folder.back() == u'/') folder.pop_back();
    return folder;
}

}  // namespace

// ------------------------------------------------------------------ message boxes

std::u16string FormatKeyText(std::u16string_view text, std::u16string_view argument) {
    std::u16string out(text);
    const std::size_t marker = out.find(u"%s");
    if (marker != std::u16string::npos) out.replace(marker, 2, argument);
    return out;
}

void LoggingMessageBoxes::Show(const BoxMessage& message) {
    std::string line = "Message box: " + BaseFunc::WideToUtf8(FormatKeyText(message.textKey, message.argument));
    if (!message.captionKey.empty()) line += " (" + BaseFunc::WideToUtf8(message.captionKey) + ")";
    SyncLog().info(EscapeForLog(line));
}

// ------------------------------------------------------------------ folder checks

bool SameFolder(std::string_view a, std::string_view b) { return WithoutTrailingSlash(a) == WithoutTrailingSlash(b); }

std::optional<std::string> OtherUserOfFolder(std::string_view folder, std::string_view account,
                                             const std::vector<CurrentUser>& knownUsers) {
    std::u16string other;
    if (BaseFunc::FindOtherUserOfFolder(BaseFunc::AnsiToWide(std::string(folder)), BaseFunc::AnsiToWide(std::string(account)),
                                        knownUsers, other) == 0 &&
        !other.empty()) {
        return BaseFunc::WideToUtf8(other);
    }
    return std::nullopt;
}

std::u16string ProposeSyncFolder(const std::string& documentsFolder, const std::string& account,
                                 const std::vector<CurrentUser>& knownUsers) {
    const std::string base = plat::fs::Join(plat::fs::Join(documentsFolder, "Nuvet云盘"), account);
    std::string candidate = base;
    for (std::size_t n = 1; OtherUserOfFolder(candidate, account, knownUsers); ++n) {
        candidate = base + "(" + std::to_string(n) + ")";
    }
    return BaseFunc::AnsiToWide(candidate);
}

FolderChange CheckFolderChange(const std::optional<std::u16string>& picked, const std::u16string& currentFolder,
                               const std::string& account, const std::vector<CurrentUser>& knownUsers) {
    FolderChange change;
    if (!picked) return change;
    change.folder = WithoutTrailingSlash(*picked);
    if (!BaseFunc::IsUsableSyncFolder(change.folder)) {
        change.verdict = FolderChange::kInvalid;
        return change;
    }
    const std::string folder = BaseFunc::WideToUtf8(change.folder);
    if (auto other = OtherUserOfFolder(folder, account, knownUsers)) {
        change.verdict = FolderChange::kTaken;
        change.otherUser = std::move(*other);
        return change;
    }
    change.verdict =
        SameFolder(folder, BaseFunc::WideToUtf8(currentFolder)) ? FolderChange::kNoChange : FolderChange::kNewFolder;
    return change;
}

bool ReportFolderRefusal(const FolderChange& change, MessageBoxes& boxes) {
    if (change.verdict == FolderChange::kInvalid) {
        boxes.Show(BoxMessage{std::u16string(kInvalidFolderKey), {}, {}, BoxIcon::None});
        return true;
    }
    if (change.verdict == FolderChange::kTaken) {
        boxes.Show(BoxMessage{std::u16string(kFolderTakenKey), BaseFunc::AnsiToWide(change.otherUser),
                              std::u16string(kWarningCaptionKey), BoxIcon::Information});
        return true;
    }
    return false;
}

// ------------------------------------------------------------------- folder dialog

CSetCloudPath::CSetCloudPath(std::string account, std::int32_t mode, std::vector<CurrentUser> knownUsers,
                             std::string documentsFolder)
    : account_(std::move(account)),
      mode_(mode),
      knownUsers_(std::move(knownUsers)),
      documentsFolder_(std::move(documentsFolder)) {}

void CSetCloudPath::Init() {
    if (folder_.empty()) folder_ = ProposeSyncFolder(documentsFolder_, account_, knownUsers_);
    proposal_ = folder_;
}

std::u16string_view CSetCloudPath::PromptKey() const {
    return mode_ == kFirstLogin ? u"该账户第一次登陆云盘，请指定云盘目录，若不指定则按默认路径存储："
                                : u"该账户指定的云盘目录已不存在，请重新指定，若不指定则按默认路径存储：";
}

bool CSetCloudPath::Browse(const std::optional<std::u16string>& picked, MessageBoxes& boxes) {
    if (!picked) return false;
    // The dialog checks the folder against the other accounts only; the current folder
    // counts as a change here.
    const FolderChange change = CheckFolderChange(picked, std::u16string(), account_, knownUsers_);
    if (ReportFolderRefusal(change, boxes)) return false;
    folder_ = change.folder;
    return true;
}

void CSetCloudPath::Cancel() { folder_ = proposal_; }

void HeadlessFolderChooser::RunSetCloudPath(CSetCloudPath& dialog) { dialog.Cancel(); }

std::optional<std::u16string> HeadlessFolderChooser::BrowseForFolder(std::u16string_view /*titleKey*/,
                                                                     const std::u16string& /*startFolder*/) {
    return std::nullopt;
}
